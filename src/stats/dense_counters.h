#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stats/page_region.h"
#include "stats/table_records.h"

namespace tallywire {

// Counters addressed directly by slot, for kinds whose values lie in a small
// range. The slots sit in zero pages that become resident only when counted
// into, so a wide range costs nothing until it is used. A slot holds an
// entry exactly when its packet count is not 0, which every stored entry's
// is.
class dense_counters {
public:
    // Room for slots entries; false with errno set on failure. With
    // deferred, adds wait as add() below says.
    bool open(std::size_t slots, bool deferred);

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

    // Counts one packet into slot. In a deferred table the add waits two
    // counts (a packet's two sides) while the slot's line is loaded, so that
    // the cache misses of consecutive packets overlap instead of each
    // stalling its count: 65,536 ports or class B networks do not stay in
    // the cache while a capture streams through it. Tables whose few slots
    // stay cached add at once; the wait would only cost them.
    void add(std::size_t slot, std::uint32_t length) {
        if (!deferred_) {
            apply(pending_add{slot, length});
            return;
        }
        __builtin_prefetch(&counters_[slot], 1);
        apply(pending_[1]);
        pending_[1] = pending_[0];
        pending_[0] = pending_add{slot, length};
    }

    // Empties every slot; their pages go back to the system.
    void clear() {
        pending_[0] = pending_[1] = pending_add{slots_, 0};
        counters_.discard_after(0);
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

    void apply(const pending_add& pending) {
        table_counters& counters = counters_[pending.slot];
        counters.bytes += pending.length;
        ++counters.packets;
    }

    // An empty place in the queue points at the spare slot past the last
    // one, which nothing reads, so that add() needs no test for it.
    void settle() {
        if (pending_[0].slot == slots_ && pending_[1].slot == slots_) {
            return;
        }
        apply(pending_[1]);
        apply(pending_[0]);
        pending_[0] = pending_[1] = pending_add{slots_, 0};
    }

    page_array<table_counters> counters_;
    std::size_t slots_ = 0;
    bool deferred_ = false;
    std::array<pending_add, 2> pending_{};
};

}  // namespace tallywire
