#pragma once

// The records every part of the statistics passes around: a table's keys and
// counters, the rows the report takes, and the table itself.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "stats/page_region.h"
#include "stats/table_keys.h"

namespace tallywire {

struct table_counters {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

// Adds more into sum, unless a count would pass 2^64 - 1: then sum is left
// as it was and the answer is false.
inline bool add_within_limit(table_counters& sum, const table_counters& more) {
    table_counters added;
    if (__builtin_add_overflow(sum.bytes, more.bytes, &added.bytes) ||
        __builtin_add_overflow(sum.packets, more.packets, &added.packets)) {
        return false;
    }
    sum = added;
    return true;
}

struct report_row {
    table_key key;
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

struct wide_row {
    wide_key key;
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

// The rows of one table for its report, in pages of their own: those of a
// fresh array, or those in which the table held its entries (see
// take_rows).
class table_rows {
public:
    table_rows() = default;
    // The first count elements of pages are the rows.
    table_rows(page_array<report_row> pages, std::size_t count)
        : pages_(std::move(pages)), count_(count) {}

    std::span<report_row> rows() const { return pages_.first(count_); }
    std::size_t size() const { return count_; }
    // Gives the pages back.
    void clear() { *this = table_rows{}; }

private:
    page_array<report_row> pages_;
    std::size_t count_ = 0;
};

// The counts behind one table (stats/counting_table.h).
class counting_table;

struct stat_table {
    std::uint32_t kind = 0;
    std::unique_ptr<counting_table> db;

    stat_table();
    stat_table(stat_table&&) noexcept;
    stat_table& operator=(stat_table&&) noexcept;
    ~stat_table();
};

}  // namespace tallywire
