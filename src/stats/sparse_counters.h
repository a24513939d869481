#pragma once

#include <absl/container/flat_hash_set.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "stats/count_log.h"
#include "stats/index_allocator.h"
#include "stats/page_region.h"
#include "stats/table_records.h"

namespace tallywire {

// One entry of a sparse table: the entry's packed key (keys::pack)
// and its counters.
struct sparse_entry {
    std::uint64_t key;
    table_counters counters;
};

// How a sparse table holds its entries, which lie in one array:
//
// - hashed: in order of arrival, found through a hash index of 4-byte
//   positions, which costs far less memory than a hash map holding the
//   entries themselves. Every table starts here.
// - logging: sorted by key. The table has outgrown the caches, where every
//   hashed lookup would wait on memory, so counts are appended to a
//   count_log, which is sorted and merged into the array whenever it fills
//   and before any lookup or walk.
// - sorted: sorted by key with nothing pending, found by binary search;
//   where a walk leaves a table, so that it steps through the array and the
//   memory of the log is back before the report builds rows.
// - broken: the index or the array failed to grow; every use is refused.
//
// A hashed table moves to logging when its entries reach log_from (sorted
// once, the index dropped), or when a run of entries is added to it that
// would take it there; a walk moves a hashed or logging table to sorted
// (the log merged and released); a sorted table that is counted into goes
// back to logging; a failed growth breaks any table.
enum class sparse_mode { hashed, logging, sorted, broken };

// Counters under keys drawn from a wide range (see sparse_mode).
class sparse_counters {
public:
    sparse_counters();
    ~sparse_counters();
    sparse_counters(const sparse_counters&) = delete;
    sparse_counters& operator=(const sparse_counters&) = delete;

    // The counters stored under key, or null (also when the table breaks on
    // merging its pending counts: see broken()).
    const table_counters* find(std::uint64_t key);

    // Adds one packet of length bytes under key. 0, or -1 with errno set.
    int add(std::uint64_t key, std::uint32_t length);

    // Stores counters under key, replacing what was there. 0, or -1.
    int store(std::uint64_t key, const table_counters& counters);

    // Adds a run of entries, sorted by key, no key twice, into the table.
    // The sums are checked before anything is added: when one would pass
    // 2^64 - 1, nothing is, and refused names its key.
    enum class run_outcome { added, past_limit, no_memory };
    run_outcome add_run(std::span<const sparse_entry> run, std::uint64_t& refused);

    // The entry with the smallest key greater than key, or null.
    const sparse_entry* next_after(std::uint64_t key);

    // Every entry in key order, pending counts merged in; empty for a
    // broken table.
    std::span<const sparse_entry> sorted_entries();

    // Entries, not counting those still pending in the log.
    std::size_t size() const { return count_; }

    // Merges every pending count into the entries; false when the table
    // breaks on it.
    bool settle() { return log_.size() == 0 || merge_log(); }

    // Hands every entry over as a report row, in key order with every
    // pending count merged in, in the pages that held the entries, and
    // leaves the table empty. False, with nothing handed over, for a broken
    // table or when the rows do not fit.
    bool take_rows(table_rows& rows);

    // True once the index or the array failed to grow: the table can no
    // longer be read or changed reliably.
    bool broken() const { return mode_ == sparse_mode::broken; }

private:
    struct position {
        std::uint32_t index;
    };
    struct probe {
        std::uint64_t key;
    };
    struct position_hash {
        using is_transparent = void;
        const sparse_counters* owner;
        std::size_t operator()(position at) const;
        std::size_t operator()(probe wanted) const;
    };
    struct position_equal {
        using is_transparent = void;
        const sparse_counters* owner;
        bool operator()(position a, position b) const { return a.index == b.index; }
        bool operator()(position at, probe wanted) const;
        bool operator()(probe wanted, position at) const { return (*this)(at, wanted); }
    };
    using position_index =
        absl::flat_hash_set<position, position_hash, position_equal, index_allocator<position>>;

    table_counters* locate(std::uint64_t key) const;
    // A new key's entry in a hashed table.
    int insert(std::uint64_t key, const table_counters& counters);
    // A new key's entry in a sorted table, merged in as a run of one.
    int insert_sorted(std::uint64_t key, const table_counters& counters);
    void sort_entries();
    void sort_for_walk();
    int log_count(std::uint64_t key, std::uint32_t length);
    // What a merge leaves: sorted entries, or for the last one, when the
    // report takes the table, its rows, every entry turned into its row
    // where it lies.
    enum class merge_output { entries, rows };
    // Adds every logged count into the sorted entries; false (and broken)
    // when the array cannot grow.
    bool merge_log(merge_output output = merge_output::entries);
    // Where the merges run: room past the entries for every key to add
    // that is new. Returns the top of that room; the table is broken when
    // the array cannot grow.
    std::size_t make_room(std::size_t new_keys);

    // From this many entries on a table is sorted and logged into rather
    // than hashed: about a megabyte of entries and index, half the L2 cache.
    static constexpr std::size_t log_from = std::size_t{1} << 15;
    // The log holds at least this many records (4 MiB with its scratch): a
    // table of some tens of thousands of entries, such as the class C
    // networks of a busy link, would otherwise merge its whole array every
    // few tens of thousands of counts.
    static constexpr std::size_t least_log_records = std::size_t{1} << 18;

    sparse_mode mode_ = sparse_mode::hashed;
    page_array<sparse_entry> entries_{page_use::front_to_back};
    std::size_t count_ = 0;
    // Held only while hashed.
    std::unique_ptr<position_index> index_;
    count_log log_;
};

}  // namespace tallywire
