#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "stats/page_region.h"

namespace tallywire {

// One packet waiting in a count_log: the entry's ordered key in the upper
// 40 bits and the packet's length in the lower 24, so that a record takes 8
// bytes and sorting records sorts them by key.
struct logged_count {
    static constexpr unsigned length_bits = 24;

    std::uint64_t packed;

    std::uint64_t key() const { return packed >> length_bits; }
    std::uint32_t length() const {
        return static_cast<std::uint32_t>(packed & ((std::uint64_t{1} << length_bits) - 1));
    }
};

// Counts of a wide table written one after the other instead of looked up
// one by one: appending costs a sequential write where a lookup in a table
// of a million entries costs cache misses. The log is then sorted by key,
// so that its counts can be merged into the table's sorted entries in one
// pass. Its memory (the records and the sort's scratch) is kept between
// rounds and handed back by release().
class count_log {
public:
    // Room for records counts; false with errno set when it cannot be had.
    bool reserve(std::size_t records);

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool full() const { return size_ == capacity_; }

    // Whether a count fits a record: keys of up to 40 bits (a 32-bit value
    // and a direction), lengths below 16 MiB (any real frame's).
    static bool holds(std::uint64_t key, std::uint32_t length) {
        return (key >> (64 - logged_count::length_bits)) == 0 &&
               (length >> logged_count::length_bits) == 0;
    }

    // Only while there is room, and for counts that it holds.
    void append(std::uint64_t key, std::uint32_t length) {
        arrays_[current_][size_++] = logged_count{key << logged_count::length_bits | length};
    }

    // Sorts the records by key, equal keys side by side, and returns them.
    // They stay valid until the next append, clear or release.
    std::span<const logged_count> sort();

    void clear() { size_ = 0; }

    // Empties the log and returns its memory to the system.
    void release();

private:
    // The records and the sort's scratch, which trade places with every
    // pass of the sort; current_ is the one holding the records.
    page_array<logged_count> arrays_[2] = {page_array<logged_count>{page_use::front_to_back},
                                           page_array<logged_count>{page_use::front_to_back}};
    int current_ = 0;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

}  // namespace tallywire
