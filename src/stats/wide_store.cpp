#include "stats/wide_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tallywire {

namespace {

// A table's first size: one page of slots.
constexpr std::size_t first_slots = 128;

}  // namespace

int wide_store::count(const wide_key& key, std::uint32_t length) noexcept {
    return count(key.value, key.direction, length);
}

table_counters* wide_store::side::insert(std::size_t at, key16 key) noexcept {
    // At most three quarters full: linear probes stay short, and the slots
    // cost at most 85 bytes an entry just after the table doubles.
    if ((held_ + 1) * 4 > (mask_ + 1) * 3 || slots_ == no_slots) {
        if (!grow()) {
            return nullptr;
        }
        at = home(key, shift_);
        while (slots_[at].key.first != 0 || slots_[at].key.second != 0) {
            at = (at + 1) & mask_;
        }
    }
    ++held_;
    slots_[at].key = key;
    return &slots_[at].counters;
}

bool wide_store::side::grow() noexcept {
    const std::size_t slots = slots_ == no_slots ? first_slots : 2 * (mask_ + 1);
    page_array<slot> grown;
    if (slots > static_cast<std::size_t>(-1) / 2 || !grown.resize(slots)) {
        errno = ENOMEM;
        return false;
    }
    const std::size_t mask = slots - 1;
    const auto shift = static_cast<unsigned>(64 - std::countr_zero(slots));
    if (slots_ != no_slots) {
        for (std::size_t i = 0; i <= mask_; ++i) {
            const slot& moved = slots_[i];
            if ((moved.key.first | moved.key.second) == 0) {
                continue;
            }
            std::size_t at = home(moved.key, shift);
            while (grown[at].key.first != 0 || grown[at].key.second != 0) {
                at = (at + 1) & mask;
            }
            grown[at] = moved;
        }
    }
    pages_ = std::move(grown);
    slots_ = &pages_[0];
    mask_ = mask;
    shift_ = shift;
    return true;
}

void wide_store::side::take_rows(std::vector<wide_row>& rows, int direction) {
    const auto row_of = [direction](key16 words, const table_counters& counters) {
        wide_row row;
        row.key = wide_key{words, static_cast<std::int8_t>(direction)};
        row.bytes = counters.bytes;
        row.packets = counters.packets;
        return row;
    };
    if (zero_held_) {
        rows.push_back(row_of(key16{}, zero_counters_));
    }
    if (slots_ != no_slots) {
        for (std::size_t i = 0; i <= mask_; ++i) {
            const slot& entry = slots_[i];
            if ((entry.key.first | entry.key.second) != 0) {
                rows.push_back(row_of(entry.key, entry.counters));
            }
        }
    }
    pages_ = page_array<slot>{};
    slots_ = no_slots;
    mask_ = 1;
    shift_ = 63;
    held_ = 0;
    zero_counters_ = table_counters{};
    zero_held_ = false;
}

std::vector<wide_row> wide_store::take_rows() {
    std::vector<wide_row> rows;
    rows.reserve(size());
    sides_[0].take_rows(rows, 0);
    sides_[1].take_rows(rows, 1);
    std::sort(rows.begin(), rows.end(),
              [](const wide_row& a, const wide_row& b) { return a.key < b.key; });
    return rows;
}

}  // namespace tallywire
