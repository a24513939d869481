#include "stats/summed_rows.h"

#include <new>

namespace tallywire {

namespace {

table_key unpack(std::uint64_t packed) {
    return table_key{static_cast<std::uint32_t>(packed), static_cast<std::int8_t>(packed >> 32)};
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

template <class map_type, class key_type>
summed_rows::outcome add_to(map_type& sums, const key_type& key, const table_counters& counters,
                            std::uint32_t part) {
    try {
        const auto [at, fresh] = sums.try_emplace(key, typename map_type::mapped_type{counters, part});
        if (fresh) {
            return summed_rows::outcome::added;
        }
        if (at->second.part == part) {
            return summed_rows::outcome::repeated;
        }
        if (!add_within_limit(at->second.counters, counters)) {
            return summed_rows::outcome::past_limit;
        }
        at->second.part = part;
        return summed_rows::outcome::added;
    } catch (const std::bad_alloc&) {
        return summed_rows::outcome::no_memory;
    }
}

}  // namespace

summed_rows::outcome summed_rows::add(const table_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    return add_to(narrow_, pack(key), counters, part);
}

summed_rows::outcome summed_rows::add(const wide_key& key, const table_counters& counters,
                                      std::uint32_t part) {
    return add_to(wide_, key, counters, part);
}

std::optional<table_rows> summed_rows::take_rows() {
    page_array<report_row> rows;
    if (!rows.resize(narrow_.size())) {
        return std::nullopt;
    }
    std::size_t count = 0;
    for (const auto& [key, sum] : narrow_) {
        rows[count++] = report_row{unpack(key), sum.counters.bytes, sum.counters.packets};
    }
    narrow_ = {};
    return table_rows(std::move(rows), count);
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
