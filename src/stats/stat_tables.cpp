#include "stats/stat_tables.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "stats/counting_table.h"
#include "stats/table_keys.h"

namespace tallywire {

namespace {

// Values below a kind's bound (keys::small_value_bound) are counted in
// direct slots; hosts get none.

// Port and Network spread their counts over 65,536 values a side; the other
// kinds' few values stay in the cache.
bool slots_miss(std::uint32_t kind) { return kind == stat_port || kind == stat_network; }

int refuse_closed() {
    errno = EBADF;
    return -1;
}

}  // namespace

stat_table::stat_table() = default;
stat_table::stat_table(stat_table&&) noexcept = default;
stat_table& stat_table::operator=(stat_table&&) noexcept = default;
stat_table::~stat_table() = default;

int open_tables(std::uint32_t kinds, const accounting_context& context,
                std::vector<stat_table>& tables) {
    // Built aside and handed over whole, so that a failure leaves no table
    // open and nothing for a later count, walk or close to touch.
    std::vector<stat_table> opened;
    opened.reserve(static_cast<std::size_t>(std::popcount(kinds)));
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t kind = std::uint32_t{1} << bit;
        if ((kinds & kind) == 0) {
            continue;
        }
        stat_table table;
        table.kind = kind;
        table.db = counting_table::open(keys::small_value_bound(kind), context.direction_split,
                                        slots_miss(kind),
                                        context.ipv6 && (kind == stat_host || kind == stat_network));
        if (!table.db) {
            return -1;
        }
        opened.push_back(std::move(table));
    }
    tables = std::move(opened);
    return 0;
}

int create_tables(std::uint32_t kinds, const accounting_context& context) {
    stat_tables.clear();
    stat_tables_direction_split = context.direction_split;
    stat_table_count = std::popcount(kinds);
    if (stat_table_count == 0) {
        return 1;
    }
    if (open_tables(kinds, context, stat_tables) != 0) {
        std::perror("dbopen");
        stat_table_count = 0;
        return -1;
    }
    return 0;
}

int close_tables() {
    for (stat_table& table : stat_tables) {
        table.db.reset();
    }
    return 0;
}

int compare_keys(const table_key& a, const table_key& b) {
    if (a.value != b.value) {
        return a.value < b.value ? -1 : 1;
    }
    if (!stat_tables_direction_split || a.direction == b.direction) {
        return 0;
    }
    return a.direction < b.direction ? -1 : 1;
}

int find_entry(const stat_table& table, const table_key& key, table_counters& counters) {
    return table.db ? table.db->find(key, counters) : refuse_closed();
}

int add_entry(stat_table& table, const table_key& key, const table_counters& counters) {
    return table.db ? table.db->store(key, counters) : refuse_closed();
}

int next_entry(stat_table& table, table_key& key, table_counters& counters) {
    return table.db ? table.db->next(key, counters) : refuse_closed();
}

std::size_t entry_count(stat_table& table) { return table.db ? table.db->size() : 0; }

std::size_t wide_entry_count(const stat_table& table) {
    return table.db ? table.db->wide_size() : 0;
}

std::vector<wide_row> take_wide_rows(stat_table& table) {
    if (!table.db) {
        return {};
    }
    try {
        return table.db->take_wide_rows();
    } catch (const std::bad_alloc&) {
        // As a walk short of memory, the block is left without these rows.
        return {};
    }
}

int take_rows(stat_table& table, table_rows& rows) {
    if (!table.db) {
        rows.clear();
        return refuse_closed();
    }
    return table.db->take_rows(rows);
}

// May be called from a counting thread while others still count: the
// process ends at once, without running destructors under their feet.
// Nothing of the report has been written yet.
void end_on_table_error(const char* message) {
    std::perror(message);
    std::fflush(nullptr);
    std::_Exit(1);
}

void count_packet(stat_table& table, const table_key& key, const frame_view& packet) {
    count_into(table, key, packet.wire_length);
}

}  // namespace tallywire
