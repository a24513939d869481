#include "stats/dense_counters.h"

namespace tallywire {

bool dense_counters::open(std::size_t slots, bool deferred) {
    // One slot more than asked: the spare that empty queue places point at.
    if (!counters_.resize(slots + 1)) {
        return false;
    }
    slots_ = slots;
    deferred_ = deferred;
    pending_[0] = pending_[1] = pending_add{slots_, 0};
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

}  // namespace tallywire
