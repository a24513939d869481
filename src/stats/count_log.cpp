#include "stats/count_log.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <utility>

namespace tallywire {

namespace {

// Digits of 11 bits: a key of the 33 bits that a split Host table uses
// takes three passes, and the 2048 counters of a digit stay in the L1 cache.
// Only the key bits are sorted; the lengths below them are left in any order.
constexpr unsigned digit_bits = 11;
constexpr std::size_t digit_values = std::size_t{1} << digit_bits;
constexpr unsigned max_digits = (64 + digit_bits - 1) / digit_bits;

}  // namespace

bool count_log::reserve(std::size_t records) {
    if (records <= capacity_) {
        return true;
    }
    // The scratch array is sized first, so that a failure leaves the records
    // as they were.
    if (!arrays_[1 - current_].resize(records) || !arrays_[current_].resize(records)) {
        return false;
    }
    capacity_ = std::min(arrays_[0].capacity(), arrays_[1].capacity());
    return true;
}

std::span<const logged_count> count_log::sort() {
    const std::span<logged_count> records = arrays_[current_].first(size_);
    if (records.empty()) {
        return records;
    }
    // Only the bits in which some keys differ need sorting; in a Host table
    // that leaves out the direction's constant bits.
    std::uint64_t varying = 0;
    for (const logged_count& record : records) {
        varying |= record.packed ^ records.front().packed;
    }
    varying &= ~((std::uint64_t{1} << logged_count::length_bits) - 1);
    if (varying == 0) {
        return records;
    }
    const auto low = static_cast<unsigned>(std::countr_zero(varying));
    const auto high = static_cast<unsigned>(64 - std::countl_zero(varying));
    const unsigned digits = (high - low + digit_bits - 1) / digit_bits;

    // Every digit's histogram in one pass over the records.
    std::array<std::array<std::size_t, digit_values>, max_digits> counts{};
    for (const logged_count& record : records) {
        for (unsigned digit = 0; digit < digits; ++digit) {
            ++counts[digit][(record.packed >> (low + digit * digit_bits)) & (digit_values - 1)];
        }
    }
    for (unsigned digit = 0; digit < digits; ++digit) {
        std::array<std::size_t, digit_values>& starts = counts[digit];
        const unsigned shift = low + digit * digit_bits;
        // A digit that every record shares leaves the order as it is.
        if (starts[(records.front().packed >> shift) & (digit_values - 1)] == size_) {
            continue;
        }
        std::size_t start = 0;
        for (std::size_t& count : starts) {
            start += std::exchange(count, start);
        }
        logged_count* const from = arrays_[current_].first(size_).data();
        logged_count* const to = arrays_[1 - current_].first(size_).data();
        for (std::size_t i = 0; i < size_; ++i) {
            to[starts[(from[i].packed >> shift) & (digit_values - 1)]++] = from[i];
        }
        current_ = 1 - current_;
    }
    return arrays_[current_].first(size_);
}

void count_log::release() {
    arrays_[0].resize(0);
    arrays_[1].resize(0);
    capacity_ = 0;
    size_ = 0;
}

}  // namespace tallywire
