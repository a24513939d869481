#pragma once

// One statistic's counts. Every writer of counts feeds this one table: the
// accounting counts frames into it one at a time, a merge adds whole tables
// of other runs' rows, and a table counted apart (by another thread, say)
// is added whole. The report takes its rows in key order.
//
// Keys below the kind's dense bound live in directly addressed slots; every
// other 32-bit key lives in the sparse part under its packed key
// (keys::pack in stats/table_keys.h); the two are merged by key when the
// rows are taken. IPv6 hosts and networks (wide keys, under --ipv6) live in
// a wide store of their own.

#include <cerrno>
#include <cstdint>
#include <memory>
#include <span>
#include <variant>
#include <vector>

#include "stats/dense_counters.h"
#include "stats/sparse_counters.h"
#include "stats/table_keys.h"
#include "stats/table_records.h"
#include "stats/wide_store.h"

namespace tallywire {

class counting_table {
public:
    // Null with errno set when the dense slots cannot be mapped. Slots
    // expected to miss the cache take deferred adds (see dense_counters);
    // wide_keys gives the table a wide store.
    static std::unique_ptr<counting_table> open(std::uint32_t dense_values, bool direction_split,
                                                bool deferred_slots, bool wide_keys);

    counting_table(const counting_table&) = delete;
    counting_table& operator=(const counting_table&) = delete;

    // Adds one packet of length bytes under key: 0, or -1 with errno set.
    int count(const table_key& key, std::uint32_t length) {
        return route(
            key, [&](std::size_t slot) { dense_.add(slot, length); },
            [&](std::uint64_t ordered) { return sparse_.add(ordered, length); });
    }
    // The wide keys' store, which the per-frame accounting counts and
    // prefetches into directly; null for a table without wide keys.
    wide_store* wide() { return wide_.get(); }

    // What adding a whole table's rows came to. After a refusal part of the
    // rows may have been added: the table is then only fit to be dropped.
    enum class add_outcome {
        added,
        repeated,    // a key stands twice among the rows
        past_limit,  // a sum would pass 2^64 - 1
        no_key,      // a key of value 0, which names no entry
        no_memory,
    };
    struct add_result {
        add_outcome outcome = add_outcome::added;
        // The key refused, for a message.
        std::variant<table_key, wide_key> key;
    };

    // Adds the rows of one table of another run: keys made by keys:: (a
    // direction only where this table keeps them apart), every row of at
    // least one packet. The rows are sorted by key in place, and are
    // overwritten.
    add_result add_rows(std::span<report_row> rows, std::span<wide_row> wide_rows);
    // Adds every entry of other, which is left empty; its directions must
    // be kept apart as this table's are.
    add_result add_table(counting_table& other);

    // The table operations by key (see stat_tables.h). Not const: a lookup
    // first settles the counts a wide table has pending.
    int find(const table_key& key, table_counters& counters);
    int store(const table_key& key, const table_counters& counters);
    int next(table_key& key, table_counters& counters);

    // How many entries under 32-bit keys a walk would yield.
    std::size_t size() {
        sparse_.settle();
        return dense_.held() + sparse_.size();
    }
    // How many entries under wide keys.
    std::size_t wide_size() const { return wide_ ? wide_->size() : 0; }

    // Every entry under a 32-bit key as report rows, in key order; those
    // entries are left empty. 0, or -1 with errno set (see take_rows in
    // stat_tables.h).
    int take_rows(table_rows& rows);
    // The wide entries as rows in key order, which leaves them empty.
    // Throws std::bad_alloc.
    std::vector<wide_row> take_wide_rows();

private:
    counting_table(std::uint32_t dense_values, bool direction_split)
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

    add_result add_narrow_rows(std::span<report_row> rows);
    add_result add_wide_rows(std::span<wide_row> rows);

    table_key slot_key(std::size_t slot) const;
    std::size_t first_slot_after(const table_key& key) const;

    std::uint32_t dense_values_;
    bool direction_split_;
    dense_counters dense_;
    sparse_counters sparse_;
    std::unique_ptr<wide_store> wide_;
};

}  // namespace tallywire
