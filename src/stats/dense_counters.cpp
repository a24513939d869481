#include "stats/dense_counters.h"

bool dense_counters::open(std::size_t slots) {
    if (!counters_.resize(slots)) {
        return false;
    }
    slots_ = slots;
    return true;
}

std::size_t dense_counters::held() {
    settle();
    std::size_t count = 0;
    for (std::size_t slot = 0; slot < slots_; ++slot) {
        count += counters_[slot].packets != 0;
    }
    return count;
}

std::size_t dense_counters::next_held(std::size_t from) {
    settle();
    while (from < slots_ && counters_[from].packets == 0) {
        ++from;
    }
    return from < slots_ ? from : slots_;
}
