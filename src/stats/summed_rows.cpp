#include "stats/summed_rows.h"

#include <absl/hash/hash.h>

#include <algorithm>
#include <new>
#include <utility>

namespace tallywire {

namespace {

std::uint64_t pack(const table_key& key) {
    return std::uint64_t{key.value} | std::uint64_t{static_cast<std::uint8_t>(key.direction)} << 32;
}

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

constexpr std::size_t first_capacity = 4096;
// Positions are 4 bytes.
constexpr std::size_t max_rows = 0xffffffffu;

}  // namespace

std::size_t summed_rows::position_hash::operator()(position at) const {
    return absl::Hash<std::uint64_t>{}(owner->packed(at.index));
}

std::size_t summed_rows::position_hash::operator()(probe wanted) const {
    return absl::Hash<std::uint64_t>{}(wanted.key);
}

bool summed_rows::position_equal::operator()(position at, probe wanted) const {
    return owner->packed(at.index) == wanted.key;
}

std::uint64_t summed_rows::packed(std::uint32_t index) const { return pack(rows_[index].key); }

summed_rows::summed_rows()
    : index_(std::make_unique<position_index>(0, position_hash{this}, position_equal{this})) {}

summed_rows::~summed_rows() = default;

summed_rows::outcome summed_rows::add(const table_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    const auto found = index_->find(probe{pack(key)});
    if (found != index_->end()) {
        const std::uint32_t at = found->index;
        if (parts_[at] == part) {
            return outcome::repeated;
        }
        table_counters sum{rows_[at].bytes, rows_[at].packets};
        if (!add_within_limit(sum, counters)) {
            return outcome::past_limit;
        }
        rows_[at].bytes = sum.bytes;
        rows_[at].packets = sum.packets;
        parts_[at] = part;
        return outcome::added;
    }
    try {
        if (count_ == max_rows) {
            return outcome::no_memory;
        }
        if (count_ == rows_.capacity() &&
            !rows_.resize(std::max(first_capacity, rows_.capacity() * 2))) {
            return outcome::no_memory;
        }
        rows_[count_] = report_row{key, counters.bytes, counters.packets};
        parts_.push_back(part);
        index_->insert(position{static_cast<std::uint32_t>(count_)});
        ++count_;
        return outcome::added;
    } catch (const std::bad_alloc&) {
        return outcome::no_memory;
    }
}

summed_rows::outcome summed_rows::add(const wide_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    try {
        const auto [at, fresh] = wide_.try_emplace(key, wide_sum{counters, part});
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

table_rows summed_rows::take_rows() {
    index_ = std::make_unique<position_index>(0, position_hash{this}, position_equal{this});
    parts_ = {};
    const std::size_t count = count_;
    count_ = 0;
    return table_rows(std::exchange(rows_, page_array<report_row>{}), count);
}

std::vector<wide_row> summed_rows::take_wide_rows() {
    std::vector<wide_row> rows;
    rows.reserve(wide_.size());
    for (const auto& [key, sum] : wide_) {
        rows.push_back(wide_row{key, sum.counters.bytes, sum.counters.packets});
    }
    wide_ = {};
    return rows;
}

}  // namespace tallywire
