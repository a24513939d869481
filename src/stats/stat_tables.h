#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "stats/page_region.h"

struct packet_record;

// One bit per statistic kind; a set of kinds is the OR of its bits.
enum stat_kind : std::uint32_t {
    stat_total = 1,
    stat_link = 2,
    stat_ip = 4,
    stat_port = 8,
    stat_host = 16,
    stat_network = 32,
};

// Display names, indexed by bit number.
inline constexpr std::array<std::string_view, 6> stat_kind_names = {
    "Total", "Link", "IP", "Port", "Host", "Network"};

// The name of a kind given as its single bit.
std::string_view stat_kind_name(std::uint32_t kind);

// direction: 0 source side, 1 destination side (only under -d).
struct table_key {
    std::uint32_t value = 0;
    std::int8_t direction = 0;
};

struct table_counters {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

struct report_row {
    table_key key;
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

// The rows of one table for its report, in pages of their own: those of a
// fresh array, or those in which the table held its entries (see
// take_rows).
class table_rows {
public:
    std::span<report_row> rows() const { return pages_.first(count_); }
    std::size_t size() const { return count_; }
    // Gives the pages back.
    void clear() {
        pages_ = page_array<report_row>{};
        count_ = 0;
    }

private:
    friend class ordered_store;
    friend class sparse_counters;
    page_array<report_row> pages_;
    std::size_t count_ = 0;
};

// The ordered store behind one table (stats/ordered_store.h).
class ordered_store;

struct stat_table {
    std::uint32_t kind = 0;
    std::unique_ptr<ordered_store> db;

    stat_table();
    stat_table(stat_table&&) noexcept;
    stat_table& operator=(stat_table&&) noexcept;
    ~stat_table();
};

// Results follow the database convention: 0 done or found, 1 absent or no
// further entry, -1 error with errno set.

// One empty table per bit of kinds, in bit order. 1 for the empty set; -1
// after "dbopen" through perror when a table cannot be had, and then no
// table is left and stat_table_count is 0.
int create_tables(std::uint32_t kinds);
// Releases every table's store; the records stay, and refuse every use.
int close_tables();
// Values compare unsigned; directions only while direction_split is set.
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

// Replaces rows with every entry of the table, in key order, as a walk
// with next_entry would yield them, and leaves the table empty. The report
// is a table's last reader: handing the entries over lets a table of
// millions of entries become its rows in place, where a copy would double
// the run's memory. 0, also when rows lacked the memory for more than the
// first entries; or -1 with errno set for a closed or broken table, or when
// the last merge of a wide table finds no memory, and rows is then empty.
int take_rows(stat_table& table, table_rows& rows);

// Adds the packet's wire length and one packet to the entry of key; a table
// error is fatal and ends the process with status 1.
void count_packet(stat_table& table, const table_key& key, const packet_record& packet);
