#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "capture/byte_source.h"

namespace tallywire {

// Hands out consecutive pieces of a byte source through one reused buffer,
// so that a file of many small records costs a few large reads instead of
// two reads and an allocation per record.
//
// The buffer grows only when one piece is larger than the buffer, and then
// only as far as the data that actually arrives, never as far as a length
// claimed inside the file: a piece that claims more than the file holds
// comes back short without the process growing. For a regular file the
// growth is also capped by what the file still holds.
class buffered_input {
public:
    static constexpr std::size_t default_capacity = std::size_t{1} << 20;

    // Does not take ownership of the source, which must outlive it.
    explicit buffered_input(byte_source& source, std::size_t capacity = default_capacity);

    // The next `count` bytes of the input, valid until the next call.
    // Shorter only when the input ended or a read failed (see failed()).
    // May throw std::bad_alloc when a very large piece does not fit in
    // memory.
    std::span<const std::uint8_t> take(std::size_t count);

    bool failed() const noexcept { return failed_; }

private:
    std::size_t available() const noexcept { return end_ - begin_; }
    void fill(std::size_t count);
    void make_room(std::size_t count);
    std::size_t growth_step(std::size_t wanted) const;

    byte_source& source_;
    bool regular_file_ = false;
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;         // first byte not yet handed out
    std::size_t end_ = 0;           // one past the last byte read
    bool at_end_ = false;
    bool failed_ = false;
};

}  // namespace tallywire
