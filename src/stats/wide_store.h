#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <vector>

#include "stats/table_records.h"

namespace tallywire {

// The entries of a table under keys wider than 32 bits: IPv6 hosts and /64
// networks. Kept apart from the table's ordered store, so that the IPv4
// keys keep their compact 64-bit ordered keys and their count log; IPv6
// keys are fewer on most links, and a hash map serves them.
class wide_store {
public:
    // Adds one packet of length bytes under key: 0, or -1 with errno set
    // when a new entry finds no memory.
    int count(const wide_key& key, std::uint32_t length) noexcept;

    std::size_t size() const { return entries_.size(); }

    // Every entry as a row, in key order; the store is left empty.
    std::vector<wide_row> take_rows();

private:
    absl::flat_hash_map<wide_key, table_counters> entries_;
};

}  // namespace tallywire
