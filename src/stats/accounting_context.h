#pragma once

// The settings the counting of a run follows, taken once from its
// run_config: small enough to be copied into the per-frame path, where
// every frame reads them.

#include <cstdint>

#include "settings.h"

namespace tallywire {

struct accounting_context {
    bool direction_split = false;  // -d: a destination's entry apart from its source's
    bool ipv6 = false;             // --ipv6: IPv6 packets have ports, hosts and networks
    bool port_limit_enabled = false;
    std::int32_t port_limit = 1024;  // ports at or above it count as 0 while enabled
};

inline accounting_context accounting_context_of(const run_config& config) {
    accounting_context context;
    context.direction_split = config.direction_split;
    context.ipv6 = config.ipv6;
    context.port_limit_enabled = config.port_limit_enabled;
    context.port_limit = config.port_limit;
    return context;
}

}  // namespace tallywire
