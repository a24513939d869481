#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>

namespace tallywire {

// The reader's input: stdio read in blocks. Peek and Take are what
// rapidjson asks of a stream; a stream that has ended peeks as '\0', and
// at_end tells that apart from a zero byte in the input.
class block_stream {
public:
    using Ch = char;

    explicit block_stream(std::FILE* in) : in_(in) { refill(); }

    Ch Peek() const { return buffer_[at_]; }
    Ch Take() {
        const Ch taken = buffer_[at_];
        if (++at_ == filled_) {
            refill();
        }
        return taken;
    }
    std::size_t Tell() const { return consumed_ + at_; }

    // rapidjson's writing side of a stream, never used by a reader that
    // does not parse in place.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

    bool at_end() const { return ended_ && at_ == filled_; }
    int read_error() const { return read_error_; }

    void skip_whitespace() {
        while (!at_end() && (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t')) {
            Take();
        }
    }

private:
    void refill() {
        consumed_ += filled_;
        at_ = 0;
        filled_ = ended_ ? 0 : std::fread(buffer_.data(), 1, block_size, in_);
        if (filled_ < block_size) {
            if (std::ferror(in_) != 0) {
                read_error_ = errno != 0 ? errno : EIO;
            }
            ended_ = true;
        }
        buffer_[filled_] = '\0';
    }

    std::FILE* in_;
    // A whole number of stdio's blocks, which stdio then reads straight into
    // the buffer instead of copying them out of its own; one byte more for
    // the '\0' that ends what was read.
    static constexpr std::size_t block_size = std::size_t{1} << 16;
    std::array<char, block_size + 1> buffer_{};
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
    std::size_t consumed_ = 0;
    bool ended_ = false;
    int read_error_ = 0;
};

}  // namespace tallywire
