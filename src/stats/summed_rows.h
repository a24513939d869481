#pragma once

// Rows added up by key, for a merge of reports: the counters of each key
// are the sum of all added under it, for one table.

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "stats/index_allocator.h"
#include "stats/page_region.h"
#include "stats/table_keys.h"
#include "stats/table_records.h"

namespace tallywire {

class summed_rows {
public:
    summed_rows() = default;

    // repeated: the key was added before under the same part, which a
    // report never holds; past_limit: a sum would pass 2^64 - 1. Neither
    // changes the sums.
    enum class outcome { added, repeated, past_limit, no_memory };

    // part tells the documents apart: any number, the same for all the
    // keys of one table of one document.
    outcome add(const table_key& key, const table_counters& counters, std::uint32_t part);
    outcome add(const wide_key& key, const table_counters& counters, std::uint32_t part);

    // Starts fetching the slot of key into the cache, ahead of its add.
    void prefetch(const table_key& key) const { positions_.prefetch(pack(key)); }
    void prefetch(const wide_key& key) const { wide_.prefetch(key); }
    // The second step for a key prefetched some adds before: its slot is in
    // the cache by now and tells where its row lies, which is fetched next.
    void prefetch_row(const table_key& key) const {
        const auto at = positions_.find(pack(key));
        if (at != positions_.end()) {
            __builtin_prefetch(&rows_[at->second], 1);
        }
    }
    void prefetch_row(const wide_key&) const {}

    std::size_t size() const { return count_ + wide_.size(); }

    // The sums as report rows, in no particular order (the report puts
    // them in key order); the sums are left empty. Null rows when there is
    // no memory for them.
    std::optional<table_rows> take_rows();
    // The IPv6 sums, in key order.
    std::vector<wide_row> take_wide_rows();

private:
    static std::uint64_t pack(const table_key& key) { return keys::pack(key, true); }

    struct sum {
        table_counters counters;
        std::uint32_t part = 0;
    };

    using position_map =
        absl::flat_hash_map<std::uint64_t, std::uint32_t, absl::Hash<std::uint64_t>,
                            std::equal_to<>,
                            index_allocator<std::pair<const std::uint64_t, std::uint32_t>>>;

    // Narrow keys' sums lie in the pages that become the report's rows,
    // found by key through a map of 16-byte slots: about 55 bytes a key at
    // the peak, where sums in the map's own slots would cost 32 bytes more
    // while the rows are made from them. IPv6 keys, fewer, lie in a map.
    // Both the rows, written front to back, and the map, looked up all
    // over, take large pages: a large merge would otherwise spend a good
    // part of its adding in page faults and address translation misses.
    page_array<report_row> rows_{page_use::front_to_back};
    std::vector<std::uint32_t> parts_;  // the part that last added to each row
    std::size_t count_ = 0;
    position_map positions_;
    absl::flat_hash_map<wide_key, sum> wide_;
};

}  // namespace tallywire
