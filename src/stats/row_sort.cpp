#include "stats/row_sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>


namespace tallywire {

namespace {

// Below this many rows a comparison sort beats another counting pass.
constexpr std::size_t small_run = 48;

// The two orders the rows are sorted in: largest byte count first, and key
// order. Each gives a row's digit at a shift, numbered so that smaller
// digits come first, and the comparison that sorts short runs.

// Without -d every key has direction 0, so one packing serves both.
struct by_key {
    static std::uint64_t number(const report_row& row) { return keys::pack(row.key, true); }
    static std::size_t digit(const report_row& row, unsigned shift) {
        return (number(row) >> shift) & 0xffu;
    }
    static bool before(const report_row& a, const report_row& b) { return number(a) < number(b); }
    // Keys are unique in a table: the last digit leaves no ties.
    static void sort_ties(std::span<report_row>, const std::array<std::size_t, 256>&) {}
};

// By bytes, ties in the order of keys of one kind, which the Host table
// has apart (see keys::natural_order).
template <std::uint32_t kind>
struct by_bytes {
    static std::size_t digit(const report_row& row, unsigned shift) {
        return 255 - ((row.bytes >> shift) & 0xffu);
    }
    static bool before(const report_row& a, const report_row& b) {
        return compare_rows(a, b, kind) < 0;
    }
    static std::uint64_t number(const report_row& row) { return row.bytes; }
    // The buckets of the last digit hold rows of equal bytes.
    static void sort_ties(std::span<report_row> rows, const std::array<std::size_t, 256>& counts) {
        std::size_t start = 0;
        for (const std::size_t count : counts) {
            if (count > 1) {
                const auto bucket = rows.subspan(start, count);
                std::sort(bucket.begin(), bucket.end(), before);
            }
            start += count;
        }
    }
};

template <class order>
void sort_small(std::span<report_row> rows) {
    std::sort(rows.begin(), rows.end(), order::before);
}

// Most significant digit first, in place, then every bucket by the next
// digit. Rows are swapped into their buckets in rounds: each round sends
// every row still out of place in a bucket to the next free place of its
// own bucket, and the row that comes back is looked at in the next round.
// The swaps of a round do not wait on one another, so their cache misses
// overlap; following each row's cycle instead would take them one at a time.
template <class order>
void sort_from_digit(std::span<report_row> rows, unsigned shift) {
    if (rows.size() < small_run) {
        sort_small<order>(rows);
        return;
    }
    std::array<std::size_t, 256> counts{};
    for (const report_row& row : rows) {
        ++counts[order::digit(row, shift)];
    }
    std::array<std::size_t, 256> heads;
    std::array<std::size_t, 256> ends;
    std::array<std::uint8_t, 256> open;
    std::size_t open_count = 0;
    std::size_t start = 0;
    for (std::size_t b = 0; b < counts.size(); ++b) {
        heads[b] = start;
        start += counts[b];
        ends[b] = start;
        if (counts[b] != 0) {
            open[open_count++] = static_cast<std::uint8_t>(b);
        }
    }
    report_row* const data = rows.data();
    while (open_count > 1) {
        std::size_t still_open = 0;
        for (std::size_t k = 0; k < open_count; ++k) {
            const std::uint8_t b = open[k];
            const std::size_t end = ends[b];
            for (std::size_t at = heads[b]; at < end; ++at) {
                std::swap(data[at], data[heads[order::digit(data[at], shift)]++]);
            }
            if (heads[b] != end) {
                open[still_open++] = b;
            }
        }
        open_count = still_open;
    }
    if (shift == 0) {
        order::sort_ties(rows, counts);
        return;
    }
    start = 0;
    for (const std::size_t count : counts) {
        if (count > 1) {
            sort_from_digit<order>(rows.subspan(start, count), shift - 8);
        }
        start += count;
    }
}

template <class order>
void sort_rows(std::span<report_row> rows) {
    std::uint64_t largest = 0;
    for (const report_row& row : rows) {
        largest = std::max(largest, order::number(row));
    }
    // Digits above the largest number are 0 in every row and sort nothing.
    const auto bits = static_cast<unsigned>(std::bit_width(largest));
    const unsigned top_shift = bits <= 8 ? 0 : (bits - 1) / 8 * 8;
    sort_from_digit<order>(rows, top_shift);
}

}  // namespace

void sort_by_bytes(std::span<report_row> rows, std::uint32_t kind) {
    if (kind == stat_host) {
        sort_rows<by_bytes<stat_host>>(rows);
    } else {
        // Every other kind's keys are in their natural order already.
        sort_rows<by_bytes<stat_total>>(rows);
    }
}

void sort_by_key(std::span<report_row> rows) { sort_rows<by_key>(rows); }

}  // namespace tallywire
