#pragma once

// The records every part of the statistics passes around: a table's keys and
// counters, the rows the report takes, and the table itself.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "stats/page_region.h"

namespace tallywire {

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

// A key too wide for table_key, counted under --ipv6: an IPv6 address, or
// the /64 prefix of one with the rest of its bytes zero.
struct wide_key {
    std::array<std::uint8_t, 16> bytes{};
    std::int8_t direction = 0;

    // Compared and hashed as two 64-bit words: a call to memcmp or a hash
    // of sixteen single bytes costs more than the lookup it serves.
    std::array<std::uint64_t, 2> words() const {
        std::array<std::uint64_t, 2> halves;
        std::memcpy(halves.data(), bytes.data(), sizeof halves);
        return halves;
    }
    friend bool operator==(const wide_key& a, const wide_key& b) {
        return a.words() == b.words() && a.direction == b.direction;
    }
    friend auto operator<=>(const wide_key&, const wide_key&) = default;
    template <typename hash_state>
    friend hash_state AbslHashValue(hash_state state, const wide_key& key) {
        const auto halves = key.words();
        return hash_state::combine(std::move(state), halves[0], halves[1], key.direction);
    }
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

// The ordered store behind one table (stats/ordered_store.h), and the
// store of its wide keys (stats/wide_store.h).
class ordered_store;
class wide_store;

struct stat_table {
    std::uint32_t kind = 0;
    std::unique_ptr<ordered_store> db;
    // Host and Network under --ipv6 only; null otherwise.
    std::unique_ptr<wide_store> wide;

    stat_table();
    stat_table(stat_table&&) noexcept;
    stat_table& operator=(stat_table&&) noexcept;
    ~stat_table();
};

}  // namespace tallywire
