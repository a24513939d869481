#include "capture/buffered_input.h"

#include <algorithm>
#include <cstring>

namespace tallywire {

namespace {

// The smallest buffer worth a read call, and the step by which a buffer
// grows when the file's size promises nothing more.
constexpr std::size_t minimum_capacity = 4096;

}  // namespace

buffered_input::buffered_input(byte_source& source, std::size_t capacity) : source_(source) {
    if (const auto size = source.bytes_beyond()) {
        regular_file_ = true;
        // A small file gets a buffer of its own size, not a megabyte.
        if (*size < capacity) {
            capacity = static_cast<std::size_t>(*size);
        }
    }
    capacity_ = std::max(capacity, minimum_capacity);
    storage_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
}

std::span<const std::uint8_t> buffered_input::take(std::size_t count) {
    if (available() < count) {
        fill(count);
    }
    const std::size_t given = std::min(count, available());
    const std::span<const std::uint8_t> piece(storage_.get() + begin_, given);
    begin_ += given;
    return piece;
}

void buffered_input::fill(std::size_t count) {
    if (capacity_ - begin_ < count) {
        make_room(count);
    }
    while (available() < count && !at_end_ && !failed_) {
        if (end_ == capacity_) {
            make_room(count);
        }
        // Read as much as the buffer holds, not just what this piece needs:
        // the pieces that follow are then served without a system call.
        const std::span<std::uint8_t> free_space(storage_.get() + end_, capacity_ - end_);
        const read_outcome outcome = source_.read_some(free_space);
        end_ += outcome.count;
        failed_ = outcome.failed;
        at_end_ = outcome.count == 0 && !outcome.failed;
    }
}

// Moves the unread bytes to the front; when they fill the whole buffer
// and the piece needs more, grows the buffer by a step that the input can
// back with data.
void buffered_input::make_room(std::size_t count) {
    const std::size_t unread = available();
    if (begin_ > 0) {
        std::memmove(storage_.get(), storage_.get() + begin_, unread);
        begin_ = 0;
        end_ = unread;
    }
    if (end_ < capacity_ || unread >= count) {
        return;
    }
    const std::size_t new_capacity = capacity_ + growth_step(count - unread);
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(new_capacity);
    std::memcpy(grown.get(), storage_.get(), unread);
    storage_ = std::move(grown);
    capacity_ = new_capacity;
}

std::size_t buffered_input::growth_step(std::size_t wanted) const {
    // A pipe, a device or a decompressed stream: double. The buffer was full of data that arrived
    // before each doubling, so it never outgrows twice what arrived.
    std::size_t step = std::min(wanted, capacity_);
    if (regular_file_) {
        // A regular file: grow by what the file still holds, or by a page
        // when its size shows nothing more (a file still being written, or
        // a file system that reports no size), so that a read can tell.
        const std::uint64_t beyond = source_.bytes_beyond().value_or(0);
        step = beyond > 0 ? static_cast<std::size_t>(std::min<std::uint64_t>(wanted, beyond))
                          : std::min(wanted, minimum_capacity);
    }
    return std::max<std::size_t>(step, 1);
}

}  // namespace tallywire
