#pragma once

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

    bool holds(std::size_t slot) const { return counters_[slot].packets != 0; }
    const table_counters& at(std::size_t slot) const { return counters_[slot]; }
    void store(std::size_t slot, const table_counters& counters) { counters_[slot] = counters; }

    void prefetch(std::size_t slot) const { __builtin_prefetch(&counters_[slot], 1); }

    void add(std::size_t slot, std::uint32_t length) {
        table_counters& counters = counters_[slot];
        counters.bytes += length;
        ++counters.packets;
    }

    // How many slots hold an entry.
    std::size_t held() const;

    // The first slot at or after from that holds an entry; slots() if none.
    std::size_t next_held(std::size_t from) const;

private:
    page_array<table_counters> counters_;
    std::size_t slots_ = 0;
};
