#include "stats/accounting.h"

#include <span>

#include "stats/stat_tables.h"

namespace tallywire {

namespace {

[[gnu::always_inline]] inline void count_one_sided(stat_table& table, std::uint32_t value,
                                                   std::uint32_t length) {
    if (value != 0) {
        count_into(table, table_key{value, 0}, length);
    }
}

// A packet whose two sides agree is counted once unless directions are told
// apart.
void count_two_sided(stat_table& table, std::uint32_t source, std::uint32_t destination,
                     std::uint32_t length, bool split) {
    const table_key destination_key{destination, static_cast<std::int8_t>(split ? 1 : 0)};
    if (source != 0) {
        count_into(table, table_key{source, 0}, length);
    }
    if (destination != 0 && (destination != source || split)) {
        count_into(table, destination_key, length);
    }
}

// count_into for the words of a wide key.
[[gnu::always_inline]] inline void count_wide(wide_store& wide, const key16& key,
                                              int direction, std::uint32_t length) {
    if (wide.count(key, direction, length) != 0) [[unlikely]] {
        end_on_table_error("Fatal! add_entry()");
    }
}

// As count_two_sided, for the wide keys of an IPv6 packet; the
// destination's entry is the other direction's under -d.
void count_wide_two_sided(wide_store& wide, std::uint32_t kind,
                          const key_rules::ipv6_sides& sides, std::uint32_t length, bool split) {
    const key16 source = keys::ipv6_key(kind, sides.source);
    const key16 destination = keys::ipv6_key(kind, sides.destination);
    if (sides.has_source) {
        count_wide(wide, source, 0, length);
    }
    if (sides.has_destination && (split || !sides.has_source || destination != source)) {
        count_wide(wide, destination, split ? 1 : 0, length);
    }
}

// Starts loading the wide entries the packet will count into, so that
// their cache misses overlap the counting of the other tables. Inlined, as
// every function whose only effect is a prefetch must be (see
// wide_store::prefetch).
[[gnu::always_inline]] inline void prefetch_wide(std::span<stat_table> tables,
                                                 const key_rules::ipv6_sides& sides, bool split) {
    const int destination_direction = split ? 1 : 0;
    for (const stat_table& table : tables) {
        if (const wide_store* wide = table.db ? table.db->wide() : nullptr) {
            if (sides.has_source) {
                wide->prefetch(keys::ipv6_key(table.kind, sides.source), 0);
            }
            if (sides.has_destination) {
                wide->prefetch(keys::ipv6_key(table.kind, sides.destination),
                               destination_direction);
            }
        }
    }
}

[[gnu::always_inline]] inline void account_into(std::span<stat_table> tables,
                                                const frame_view& packet,
                                                const accounting_context& context) {
    // A copy of the few settings, so that they stay in registers while the
    // tables are written through pointers the compiler cannot see past.
    const accounting_context rules = context;
    const std::uint32_t length = packet.wire_length;
    ipv6_chain_cache chain;
    if (rules.ipv6 && is_ipv6(packet)) {
        prefetch_wide(tables, key_rules::ipv6_addresses(packet), rules.direction_split);
    }
    for (stat_table& table : tables) {
        const std::uint32_t kind = table.kind;
        if (two_sided(kind)) {
            const key_rules::side_values sides = extract_side_keys(kind, packet, chain, rules);
            count_two_sided(table, sides.source, sides.destination, length, rules.direction_split);
            // Only IPv6 packets have wide keys, and only with --ipv6 are there
            // wide stores; their addresses are read again here, which costs
            // less than keeping them for every packet.
            if (rules.ipv6 && is_ipv6(packet)) [[unlikely]] {
                if (wide_store* wide = table.db->wide()) {
                    count_wide_two_sided(*wide, kind, key_rules::ipv6_addresses(packet), length,
                                         rules.direction_split);
                }
            }
        } else {
            count_one_sided(table, extract_key(kind, packet, true, chain, rules), length);
        }
    }
}

}  // namespace

void account_packet(const frame_view& packet, const accounting_context& context) {
    account_into(stat_tables, packet, context);
}

void account_packet_into(std::span<stat_table> tables, const frame_view& packet,
                         const accounting_context& context) {
    account_into(tables, packet, context);
}

void accounting_sink(const frame_view& packet, void* sink_arg) {
    account_packet(packet, *static_cast<const accounting_context*>(sink_arg));
}

void table_counting_sink(const frame_view& packet, void* sink_arg) {
    auto& counting = *static_cast<table_counting*>(sink_arg);
    account_packet_into(counting.tables, packet, counting.context);
}

}  // namespace tallywire
