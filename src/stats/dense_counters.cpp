#include "stats/dense_counters.h"

bool dense_counters::open(std::size_t slots) {
    if (!counters_.resize(slots)) {
        return false;
    }
    slots_ = slots;
    return true;
}

std::size_t dense_counters::held() const {
    std::size_t count = 0;
    for (std::size_t slot = 0; slot < slots_; ++slot) {
        count += holds(slot);
    }
    return count;
}

std::size_t dense_counters::next_held(std::size_t from) const {
    while (from < slots_ && !holds(from)) {
        ++from;
    }
    return from < slots_ ? from : slots_;
}
