#pragma once

// The operations on the run's tables (stats/stats_state.h): created per
// selected kind, counted into, walked or handed over as rows, closed.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/frame_view.h"
#include "stats/accounting_context.h"
#include "stats/counting_table.h"
#include "stats/stat_kinds.h"
#include "stats/stats_state.h"
#include "stats/table_records.h"

namespace tallywire {

// Results follow the database convention: 0 done or found, 1 absent or no
// further entry, -1 error with errno set.

// One empty table per bit of kinds, in bit order, keeping directions apart
// under the context's direction split and with wide stores for IPv6 hosts
// and networks under its ipv6. 1 for the empty set; -1 after "dbopen"
// through perror when a table cannot be had, and then no table is left and
// stat_table_count is 0.
int create_tables(std::uint32_t kinds, const accounting_context& context = {});
// The same tables for a caller that keeps its own, such as a merge: 0, or
// -1 with errno set and tables untouched, without a message.
int open_tables(std::uint32_t kinds, const accounting_context& context,
                std::vector<stat_table>& tables);
// Releases every table's store; the records stay, and refuse every use.
int close_tables();
// Values compare unsigned; directions only when the tables were created
// with the direction split (stat_tables_direction_split), as the stores
// themselves compare them: without it a key's direction is not part of it.
int compare_keys(const table_key& a, const table_key& b);
int find_entry(const stat_table& table, const table_key& key, table_counters& counters);
// Stores or replaces. A key of value 0 (it opens a walk) and counters of no
// packet (every entry has counted one) are refused with EINVAL.
int add_entry(stat_table& table, const table_key& key, const table_counters& counters);
// The entry after key in key order, or the first one for a key of value 0.
// Without direction_split every entry comes back with direction 0.
int next_entry(stat_table& table, table_key& key, table_counters& counters);

// How many entries a walk of the table yields; 0 for a closed table.
std::size_t entry_count(stat_table& table);
// How many entries it holds under wide keys (IPv6 hosts and networks),
// which take_wide_rows hands over.
std::size_t wide_entry_count(const stat_table& table);

// Replaces rows with every entry of the table, in key order, as a walk
// with next_entry would yield them, and leaves the table empty. The report
// is a table's last reader: handing the entries over lets a table of
// millions of entries become its rows in place, where a copy would double
// the run's memory. 0, also when rows lacked the memory for more than the
// first entries; or -1 with errno set for a closed or broken table, or when
// the last merge of a wide table finds no memory, and rows is then empty.
int take_rows(stat_table& table, table_rows& rows);

// The table's wide entries (IPv6 hosts or networks under --ipv6) as rows in
// key order; the wide store is left empty. None for a table without one, or
// when there is no memory for them.
std::vector<wide_row> take_wide_rows(stat_table& table);

// Adds the packet's wire length and one packet to the entry of key; a table
// error is fatal and ends the process with status 1.
void count_packet(stat_table& table, const table_key& key, const frame_view& packet);

// Writes message and the error text through perror, then ends the program
// with status 1.
[[noreturn]] void end_on_table_error(const char* message);

// What count_packet does, inline for the per-frame accounting: a call per
// count would cost about a fifth more instructions per frame.
[[gnu::always_inline]] inline void count_into(stat_table& table, const table_key& key,
                                              std::uint32_t length) {
    if (!table.db) [[unlikely]] {
        errno = EBADF;
        end_on_table_error("Fatal! find_entry()");
    }
    // One find-or-insert: only storing a new entry can fail.
    if (table.db->count(key, length) != 0) [[unlikely]] {
        end_on_table_error("Fatal! add_entry()");
    }
}

}  // namespace tallywire
