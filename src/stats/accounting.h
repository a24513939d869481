#pragma once

// How a frame is counted: the key it has in each kind of table, and the
// counting of it under every key.

#include <cstdint>
#include <optional>

#include "capture/packet_record.h"
#include "settings.h"
#include "stats/key_rules.h"
#include "stats/stat_kinds.h"
#include "stats/table_records.h"

namespace tallywire {

// The key value of one kind for one side of a packet; 0 when the packet has
// no key of that kind on that side, and for any other kind. Inline: the
// per-frame accounting derives the one-sided keys through it (and the
// two-sided ones through extract_side_keys), with one chain cache per
// packet so that an IPv6 chain is followed once.
[[gnu::always_inline]] inline std::uint32_t extract_key(std::uint32_t kind,
                                                        const packet_record& packet,
                                                        bool source_side,
                                                        ipv6_chain_cache& chain) {
    switch (kind) {
    case stat_total: return keys::total_value;
    case stat_link: return keys::link_key(packet.link_code);
    case stat_ip: return key_rules::ip_value(packet, chain);
    case stat_port: return key_rules::port_value(packet, source_side, chain);
    case stat_host: return key_rules::host_value(packet, source_side);
    case stat_network: return key_rules::network_value(packet, source_side);
    default: return 0;
    }
}

// The keys of both sides for a two-sided kind, read once for both.
[[gnu::always_inline]] inline key_rules::side_values extract_side_keys(
    std::uint32_t kind, const packet_record& packet, ipv6_chain_cache& chain) {
    switch (kind) {
    case stat_port: return key_rules::port_values(packet, chain);
    case stat_host: return key_rules::host_values(packet);
    case stat_network: return key_rules::network_values(packet);
    default: return {};
    }
}

inline std::uint32_t extract_key(std::uint32_t kind, const packet_record& packet,
                                 bool source_side) {
    ipv6_chain_cache chain;
    return extract_key(kind, packet, source_side, chain);
}

// Counts the packet into every table under every non-zero key.
void account_packet(const packet_record& packet);

// The sink that the run hands to its source; it ignores sink_arg.
void accounting_sink(const packet_record* packet, void* sink_arg);

}  // namespace tallywire
