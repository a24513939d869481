#include "stats/accounting.h"

#include "settings.h"
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
                     std::uint32_t length) {
    const bool split = current_settings.direction_split;
    const table_key destination_key{destination, static_cast<std::int8_t>(split ? 1 : 0)};
    if (source != 0) {
        count_into(table, table_key{source, 0}, length);
    }
    if (destination != 0 && (destination != source || split)) {
        count_into(table, destination_key, length);
    }
}

// count_into for the words of a wide key.
[[gnu::always_inline]] inline void count_wide(stat_table& table, const key16& key,
                                              int direction, std::uint32_t length) {
    if (table.wide->count(key, direction, length) != 0) [[unlikely]] {
        end_on_table_error("Fatal! add_entry()");
    }
}

// As count_two_sided, for the wide keys of an IPv6 packet; the
// destination's entry is the other direction's under -d.
void count_wide_two_sided(stat_table& table, const key_rules::ipv6_sides& sides,
                          std::uint32_t length) {
    const bool split = current_settings.direction_split;
    const key16 source = keys::ipv6_key(table.kind, sides.source);
    const key16 destination = keys::ipv6_key(table.kind, sides.destination);
    if (sides.has_source) {
        count_wide(table, source, 0, length);
    }
    if (sides.has_destination && (split || !sides.has_source || destination != source)) {
        count_wide(table, destination, split ? 1 : 0, length);
    }
}

// Starts loading the wide entries the packet will count into, so that
// their cache misses overlap the counting of the other tables. Inlined, as
// every function whose only effect is a prefetch must be (see
// wide_store::prefetch).
[[gnu::always_inline]] inline void prefetch_wide(const key_rules::ipv6_sides& sides) {
    const int destination_direction = current_settings.direction_split ? 1 : 0;
    for (const stat_table& table : stat_tables) {
        if (table.wide) {
            if (sides.has_source) {
                table.wide->prefetch(keys::ipv6_key(table.kind, sides.source), 0);
            }
            if (sides.has_destination) {
                table.wide->prefetch(keys::ipv6_key(table.kind, sides.destination),
                                     destination_direction);
            }
        }
    }
}

}  // namespace

void account_packet(const packet_record& packet) {
    const std::uint32_t length = packet.counted_length;
    ipv6_chain_cache chain;
    if (current_settings.ipv6 && is_ipv6(packet)) {
        prefetch_wide(key_rules::ipv6_addresses(packet));
    }
    for (stat_table& table : stat_tables) {
        const std::uint32_t kind = table.kind;
        if (two_sided(kind)) {
            const key_rules::side_values sides = extract_side_keys(kind, packet, chain);
            count_two_sided(table, sides.source, sides.destination, length);
            // Only IPv6 packets have wide keys, and only with --ipv6 are there
            // wide stores; their addresses are read again here, which costs
            // less than keeping them for every packet.
            if (table.wide && is_ipv6(packet)) [[unlikely]] {
                count_wide_two_sided(table, key_rules::ipv6_addresses(packet), length);
            }
        } else {
            count_one_sided(table, extract_key(kind, packet, true, chain), length);
        }
    }
}

void accounting_sink(const packet_record* packet, void*) { account_packet(*packet); }

}  // namespace tallywire
