#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>

#include "stats/dense_counters.h"
#include "stats/table_keys.h"
#include "stats/sparse_counters.h"
#include "stats/table_records.h"

namespace tallywire {

// The store behind one table: one entry per key, found and replaced by key,
// walked in ascending key order. Values below a kind's dense bound live in
// directly addressed slots; every other key lives in the sparse part, under
// its packed key (keys::pack in stats/table_keys.h). The two parts are merged by key
// when walked.
class ordered_store {
public:
    // Null with errno set when the dense slots cannot be mapped. Slots
    // expected to miss the cache take deferred adds (see dense_counters).
    static std::unique_ptr<ordered_store> open(std::uint32_t dense_values, bool direction_split,
                                               bool deferred_slots = false);

    ordered_store(const ordered_store&) = delete;
    ordered_store& operator=(const ordered_store&) = delete;

    // Not const: a lookup first settles the counts a wide table has pending.
    int find(const table_key& key, table_counters& counters);
    int store(const table_key& key, const table_counters& counters);
    int next(table_key& key, table_counters& counters);

    // How many entries a walk would yield.
    std::size_t size() {
        sparse_.settle();
        return dense_.held() + sparse_.size();
    }

    // Every entry as report rows, in key order; the store is left empty.
    // 0, or -1 with errno set (see take_rows).
    int take_rows(table_rows& rows);

    // Adds one packet of length bytes under key: 0, or -1 with errno set.
    int count(const table_key& key, std::uint32_t length) {
        return route(
            key, [&](std::size_t slot) { dense_.add(slot, length); },
            [&](std::uint64_t ordered) { return sparse_.add(ordered, length); });
    }

private:
    ordered_store(std::uint32_t dense_values, bool direction_split)
        : dense_values_(dense_values), direction_split_(direction_split) {}

    // The value 0 opens a walk and never names an entry.
    bool dense_slot(const table_key& key, std::size_t& slot) const {
        if (key.value >= dense_values_ || key.value == 0) {
            return false;
        }
        if (!direction_split_) {
            slot = key.value;
            return true;
        }
        const auto direction = static_cast<std::uint8_t>(key.direction);
        if (direction > 1) {
            return false;
        }
        slot = std::size_t{key.value} * 2 + direction;
        return true;
    }

    std::uint64_t ordered_key(const table_key& key) const {
        return keys::pack(key, direction_split_);
    }

    // Changes the entry of key: in its direct slot, or in the sparse part
    // under its ordered key. The value 0 names no entry.
    template <class on_slot_type, class on_sparse_type>
    int route(const table_key& key, on_slot_type on_slot, on_sparse_type on_sparse) {
        std::size_t slot;
        if (dense_slot(key, slot)) {
            on_slot(slot);
            return 0;
        }
        if (key.value == 0) {
            errno = EINVAL;
            return -1;
        }
        return on_sparse(ordered_key(key));
    }

    table_key slot_key(std::size_t slot) const;
    std::size_t first_slot_after(const table_key& key) const;

    std::uint32_t dense_values_;
    bool direction_split_;
    dense_counters dense_;
    sparse_counters sparse_;
};

}  // namespace tallywire
