#include "stats/summed_rows.h"

#include <algorithm>
#include <new>
#include <utility>

#include "stats/table_keys.h"

namespace tallywire {

namespace {

constexpr std::size_t first_capacity = 4096;
// Positions are 4 bytes.
constexpr std::size_t max_rows = 0xffffffffu;

// Adds more into sum unless a count would pass 2^64 - 1.
bool add_within_limit(table_counters& sum, const table_counters& more) {
    table_counters added;
    if (__builtin_add_overflow(sum.bytes, more.bytes, &added.bytes) ||
        __builtin_add_overflow(sum.packets, more.packets, &added.packets)) {
        return false;
    }
    sum = added;
    return true;
}

}  // namespace

summed_rows::outcome summed_rows::add(const table_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    try {
        if (count_ == max_rows) {
            return outcome::no_memory;
        }
        const auto [at, fresh] =
            positions_.try_emplace(pack(key), static_cast<std::uint32_t>(count_));
        if (!fresh) {
            report_row& row = rows_[at->second];
            if (parts_[at->second] == part) {
                return outcome::repeated;
            }
            table_counters sum{row.bytes, row.packets};
            if (!add_within_limit(sum, counters)) {
                return outcome::past_limit;
            }
            row.bytes = sum.bytes;
            row.packets = sum.packets;
            parts_[at->second] = part;
            return outcome::added;
        }
        if (count_ == rows_.capacity() &&
            !rows_.resize(std::max(first_capacity, rows_.capacity() * 2))) {
            positions_.erase(at);
            return outcome::no_memory;
        }
        parts_.push_back(part);
        rows_[count_++] = report_row{key, counters.bytes, counters.packets};
        return outcome::added;
    } catch (const std::bad_alloc&) {
        return outcome::no_memory;
    }
}

summed_rows::outcome summed_rows::add(const wide_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    try {
        const auto [at, fresh] = wide_.try_emplace(key, sum{counters, part});
        if (fresh) {
            return outcome::added;
        }
        if (at->second.part == part) {
            return outcome::repeated;
        }
        if (!add_within_limit(at->second.counters, counters)) {
            return outcome::past_limit;
        }
        at->second.part = part;
        return outcome::added;
    } catch (const std::bad_alloc&) {
        return outcome::no_memory;
    }
}

std::optional<table_rows> summed_rows::take_rows() {
    positions_ = {};
    parts_ = {};
    const std::size_t count = std::exchange(count_, 0);
    return table_rows(std::exchange(rows_, page_array<report_row>{}), count);
}

std::vector<wide_row> summed_rows::take_wide_rows() {
    std::vector<wide_row> rows;
    rows.reserve(wide_.size());
    for (const auto& [key, sum] : wide_) {
        rows.push_back(wide_row{key, sum.counters.bytes, sum.counters.packets});
    }
    wide_ = {};
    // In key order, as a counted table hands its wide rows over, so that
    // the report's sort by bytes leaves rows of equal bytes as a run over
    // the same frames leaves them.
    std::sort(rows.begin(), rows.end(),
              [](const wide_row& a, const wide_row& b) { return a.key < b.key; });
    return rows;
}

}  // namespace tallywire
