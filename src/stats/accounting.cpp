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

// As count_two_sided, for the wide keys of an IPv6 packet.
void count_wide_two_sided(stat_table& table, const std::optional<wide_key>& source,
                          std::optional<wide_key> destination, std::uint32_t length) {
    const bool split = current_settings.direction_split;
    if (source) {
        count_wide_into(table, *source, length);
    }
    if (!destination) {
        return;
    }
    if (split) {
        destination->direction = 1;
    } else if (destination == source) {
        return;
    }
    count_wide_into(table, *destination, length);
}

}  // namespace

void account_packet(const packet_record& packet) {
    const std::uint32_t length = packet.counted_length;
    ipv6_chain_cache chain;
    for (stat_table& table : stat_tables) {
        const std::uint32_t kind = table.kind;
        const std::uint32_t source = extract_key(kind, packet, true, chain);
        if (two_sided(kind)) {
            count_two_sided(table, source, extract_key(kind, packet, false, chain), length);
            if (table.wide) [[unlikely]] {
                count_wide_two_sided(table, extract_wide_key(kind, packet, true),
                                     extract_wide_key(kind, packet, false), length);
            }
        } else {
            count_one_sided(table, source, length);
        }
    }
}

void accounting_sink(const packet_record* packet, void*) { account_packet(*packet); }

}  // namespace tallywire
