#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stats/page_region.h"
#include "stats/stat_tables.h"

// Counters addressed directly by slot, for kinds whose values lie in a small
// range. The slots sit in zero pages that become resident only when counted
// into, so a wide range costs nothing until it is used. A slot holds an
// entry exactly when its packet count is not 0, which every stored entry's
// is.
class dense_counters {
public:
    // Room for slots entries; false with errno set on failure.
    bool open(std::size_t slots);

    std::size_t slots() const { return slots_; }

    // The reads below see every add made before them.
    bool holds(std::size_t slot) {
        settle();
        return counters_[slot].packets != 0;
    }
    const table_counters& at(std::size_t slot) {
        settle();
        return counters_[slot];
    }
    void store(std::size_t slot, const table_counters& counters) {
        settle();
        counters_[slot] = counters;
    }

    // Counts one packet into slot. The add itself waits a few counts in a
    // queue while the slot's line is loaded, so that the cache misses of
    // several packets overlap instead of each stalling its count: a table
    // of 65,536 ports or class B networks does not stay in the cache while
    // a capture streams through it.
    void add(std::size_t slot, std::uint32_t length) {
        __builtin_prefetch(&counters_[slot], 1);
        pending_add& oldest = pending_[pending_next_];
        if (pending_count_ == pending_depth) {
            apply(oldest);
        } else {
            ++pending_count_;
        }
        oldest = pending_add{slot, length};
        pending_next_ = (pending_next_ + 1) % pending_depth;
    }

    // How many slots hold an entry.
    std::size_t held();

    // The first slot at or after from that holds an entry; slots() if none.
    std::size_t next_held(std::size_t from);

private:
    struct pending_add {
        std::size_t slot;
        std::uint32_t length;
    };
    // Two packets' worth of two-sided counts.
    static constexpr std::size_t pending_depth = 4;

    void apply(const pending_add& pending) {
        table_counters& counters = counters_[pending.slot];
        counters.bytes += pending.length;
        ++counters.packets;
    }

    void settle() {
        for (std::size_t i = 0; i < pending_count_; ++i) {
            apply(pending_[i]);
        }
        pending_count_ = 0;
        pending_next_ = 0;
    }

    page_array<table_counters> counters_;
    std::size_t slots_ = 0;
    std::array<pending_add, pending_depth> pending_{};
    std::size_t pending_count_ = 0;
    std::size_t pending_next_ = 0;
};
