#pragma once

// How a frame is counted: the key it has in each kind of table, and the
// counting of it under every key.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "capture/frame_view.h"
#include "stats/accounting_context.h"
#include "stats/key_rules.h"
#include "stats/stat_kinds.h"
#include "stats/stat_tables.h"
#include "stats/table_records.h"

namespace tallywire {

// The key value of one kind for one side of a packet; 0 when the packet has
// no key of that kind on that side, and for any other kind. Inline: the
// per-frame accounting derives the one-sided keys through it (and the
// two-sided ones through extract_side_keys), with one chain cache per
// packet so that an IPv6 chain is followed once.
[[gnu::always_inline]] inline std::uint32_t extract_key(std::uint32_t kind,
                                                        const frame_view& packet,
                                                        bool source_side,
                                                        ipv6_chain_cache& chain,
                                                        const accounting_context& context) {
    switch (kind) {
    case stat_total: return keys::total_value;
    case stat_link: return keys::link_key(packet.link_code);
    case stat_ip: return key_rules::ip_value(packet, chain, context);
    case stat_port: return key_rules::port_value(packet, source_side, chain, context);
    case stat_host: return key_rules::host_value(packet, source_side);
    case stat_network: return key_rules::network_value(packet, source_side);
    default: return 0;
    }
}

// The keys of both sides for a two-sided kind, read once for both.
[[gnu::always_inline]] inline key_rules::side_values extract_side_keys(
    std::uint32_t kind, const frame_view& packet, ipv6_chain_cache& chain,
    const accounting_context& context) {
    switch (kind) {
    case stat_port: return key_rules::port_values(packet, chain, context);
    case stat_host: return key_rules::host_values(packet);
    case stat_network: return key_rules::network_values(packet);
    default: return {};
    }
}

// Counts the packet into every table under every non-zero key. context
// must be the one the tables were created with (create_tables).
void account_packet(const frame_view& packet, const accounting_context& context);
// The same into a set of tables a caller keeps (open_tables), such as the
// tables of one interval or of one counting thread.
void account_packet_into(std::span<stat_table> tables, const frame_view& packet,
                         const accounting_context& context);

// A counting thread's own tables and the settings they were opened with;
// added into the run's tables once the source has ended (stats/table_counting.h).
struct table_counting {
    accounting_context context;
    std::vector<stat_table> tables;
};

// The sink of a counting thread: sink_arg is the address of its
// table_counting.
void table_counting_sink(const frame_view& packet, void* sink_arg);

// The sink that the run hands to its source: sink_arg is the address of the
// run's accounting_context.
void accounting_sink(const frame_view& packet, void* sink_arg);

}  // namespace tallywire
