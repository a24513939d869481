#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>

#include "capture/bounded_read.h"
#include "capture/buffered_input.h"

namespace tallywire {

// The bytes a capture file reader takes its records from: either the whole
// file in memory (a mapping), handed out as views of it, or a buffered
// input (a pipe, standard input, a decompressed stream), whose views last
// until the next take. Either way a record's bytes are never copied twice
// and a view never reaches past what the input holds.
class record_input {
public:
    explicit record_input(byte_span whole) : whole_(whole), mapped_(true) {}
    explicit record_input(buffered_input& buffered) : buffered_(&buffered) {}

    // The next count bytes; shorter only where the input ends or fails.
    byte_span take(std::size_t count) {
        if (mapped_) {
            const std::size_t given = std::min(count, whole_.size() - offset_);
            const byte_span piece = whole_.subspan(offset_, given);
            offset_ += given;
            return piece;
        }
        const byte_span piece = buffered_->take(count);
        offset_ += piece.size();
        return piece;
    }

    // Passes over count bytes without keeping them, a piece at a time, so
    // that a long block of a stream never makes memory grow with it; false
    // when the input ends first.
    bool skip(std::uint64_t count) {
        if (mapped_) {
            const std::uint64_t left = whole_.size() - offset_;
            offset_ += static_cast<std::size_t>(std::min(count, left));
            return count <= left;
        }
        while (count > 0) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, skip_piece));
            if (take(piece).size() != piece) {
                return false;
            }
            count -= piece;
        }
        return true;
    }

    // Bytes taken so far: where the next record starts.
    std::uint64_t position() const { return offset_; }

    // The input stopped at a read error (a stream's failure is its own).
    bool failed() const { return !mapped_ && buffered_->failed(); }

private:
    static constexpr std::size_t skip_piece = std::size_t{64} << 10;

    byte_span whole_;
    buffered_input* buffered_ = nullptr;
    bool mapped_ = false;
    std::size_t offset_ = 0;
};

}  // namespace tallywire
