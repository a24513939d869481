#pragma once

// Rows added up by key, for a merge of reports: the counters of each key
// are the sum of all added under it, for one table. IPv4 and other narrow
// keys lie in the pages that become the report's rows, found through a hash
// index of 4-byte positions; so the sum costs about 34 bytes per key and
// hands its rows over without a copy. IPv6 keys, fewer, lie in a hash map.

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "stats/index_allocator.h"
#include "stats/table_records.h"

namespace tallywire {

class summed_rows {
public:
    summed_rows();
    ~summed_rows();
    // The index's hash reads the rows through this object's address.
    summed_rows(const summed_rows&) = delete;
    summed_rows& operator=(const summed_rows&) = delete;

    // repeated: the key was added before under the same part, which a
    // report never holds; past_limit: a sum would pass 2^64 - 1. Neither
    // changes the sums.
    enum class outcome { added, repeated, past_limit, no_memory };

    // part tells the documents apart: any number, the same for all the
    // keys of one table of one document.
    outcome add(const table_key& key, const table_counters& counters, std::uint32_t part);
    outcome add(const wide_key& key, const table_counters& counters, std::uint32_t part);

    std::size_t size() const { return count_ + wide_.size(); }

    // The sums as report rows, in no particular order; the sums are left
    // empty.
    table_rows take_rows();
    std::vector<wide_row> take_wide_rows();

private:
    struct position {
        std::uint32_t index;
    };
    struct probe {
        std::uint64_t key;
    };
    struct position_hash {
        using is_transparent = void;
        const summed_rows* owner;
        std::size_t operator()(position at) const;
        std::size_t operator()(probe wanted) const;
    };
    struct position_equal {
        using is_transparent = void;
        const summed_rows* owner;
        bool operator()(position a, position b) const { return a.index == b.index; }
        bool operator()(position at, probe wanted) const;
        bool operator()(probe wanted, position at) const { return (*this)(at, wanted); }
    };
    using position_index =
        absl::flat_hash_set<position, position_hash, position_equal, index_allocator<position>>;

    struct wide_sum {
        table_counters counters;
        std::uint32_t part = 0;
    };

    std::uint64_t packed(std::uint32_t index) const;

    page_array<report_row> rows_;
    std::vector<std::uint32_t> parts_;  // the part that last added to each row
    std::size_t count_ = 0;
    std::unique_ptr<position_index> index_;
    absl::flat_hash_map<wide_key, wide_sum> wide_;
};

}  // namespace tallywire
