#pragma once

// What the microbenchmarks share: resident memory, key sequences, and the
// tables set up as a run sets them up.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "cli/program_state.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace twbench {

// Bytes resident in this process now. Free heap memory is handed back
// first, so that what a store allocates next shows as newly resident.
inline std::size_t resident_bytes() {
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// count draws over distinct random non-zero 32-bit keys; the first
// distinct draws name every key once, so that every key is in the table.
inline std::vector<std::uint32_t> wide_keys(std::size_t distinct, std::size_t count,
                                            std::uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::vector<std::uint32_t> pool(distinct);
    for (auto& key : pool) {
        do {
            key = static_cast<std::uint32_t>(random());
        } while (key == 0);
    }
    std::vector<std::uint32_t> keys(pool);
    std::uniform_int_distribution<std::size_t> pick(0, distinct - 1);
    while (keys.size() < count) {
        keys.push_back(pool[pick(random)]);
    }
    return keys;
}

// Fresh program state with one table per kind in kinds; returns the
// accounting context the tables were created with, for the sink.
inline accounting_context open_tables(std::uint32_t kinds, bool direction_split) {
    reset_program_state();
    accounting_context counting;
    counting.direction_split = direction_split;
    create_tables(kinds, counting);
    return counting;
}

}  // namespace twbench
