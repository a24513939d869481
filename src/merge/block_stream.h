#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "report/utf8_text.h"

namespace tallywire {

// The reader's input: stdio read in blocks, each checked for well-formed
// UTF-8 before the parser sees any of it. Checking a block at once costs a
// small part of what rapidjson's check of every string, character by
// character, costs, and a large merge spends most of its time parsing.
//
// Peek and Take are what rapidjson asks of a stream; a stream that has
// ended peeks as '\0', and at_end tells that apart from a zero byte in the
// input. At the first byte that does not belong to well-formed UTF-8 the
// stream ends, and bad_utf8_at tells where that byte lies.
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

    // The calls of the parser's hooks (json_reader.h) on this stream.
    struct hook_counts {
        std::size_t whitespace = 0;
        std::size_t strings = 0;
    };
    hook_counts hook_calls;

    bool at_end() const { return ended_ && at_ == filled_; }
    int read_error() const { return read_error_; }
    std::optional<std::size_t> bad_utf8_at() const { return bad_utf8_at_; }

    void skip_whitespace() {
        for (;;) {
            while (is_whitespace(buffer_[at_])) {
                ++at_;
            }
            if (at_ < filled_ || ended_) {
                return;
            }
            refill();
        }
    }

    // The bytes from here on that a JSON string holds as they are, up to
    // the first quote, backslash or control byte, or to the block's end:
    // the parser copies them at once instead of one at a time.
    std::string_view plain_run() const {
        // The '\0' after the block ends every run.
        std::size_t end = at_;
        while (plain_in_string[static_cast<unsigned char>(buffer_[end])]) {
            ++end;
        }
        return {buffer_.data() + at_, end - at_};
    }

    // Steps over count bytes, no more than plain_run gave.
    void skip(std::size_t count) {
        at_ += count;
        if (at_ == filled_) {
            refill();
        }
    }

private:
    static constexpr bool is_whitespace(char byte) {
        return byte == ' ' || byte == '\n' || byte == '\r' || byte == '\t';
    }

    static constexpr std::array<bool, 256> plain_in_string = [] {
        std::array<bool, 256> plain{};
        for (std::size_t byte = 0x20; byte < plain.size(); ++byte) {
            plain[byte] = byte != '"' && byte != '\\';
        }
        return plain;
    }();

    void refill() {
        consumed_ += filled_;
        at_ = 0;
        // A sequence the last block ended inside (at most three bytes) was
        // held back; it starts this block, and is checked with the bytes
        // that complete it.
        std::memcpy(buffer_.data(), held_.data(), held_count_);
        std::size_t read = held_count_;
        held_count_ = 0;
        if (!ended_) {
            const std::size_t got = std::fread(buffer_.data() + read, 1, block_size, in_);
            read += got;
            if (got < block_size) {
                if (std::ferror(in_) != 0) {
                    read_error_ = errno != 0 ? errno : EIO;
                }
                ended_ = true;
            }
        }
        filled_ = well_formed_utf8_prefix(std::string_view(buffer_.data(), read));
        const std::size_t rest = read - filled_;
        if (rest != 0) {
            if (!ended_ && rest <= most_held) {
                std::memcpy(held_.data(), buffer_.data() + filled_, rest);
                held_count_ = rest;
            } else {
                bad_utf8_at_ = consumed_ + filled_;
                ended_ = true;
            }
        }
        buffer_[filled_] = '\0';
    }

    std::FILE* in_;
    // A whole number of stdio's blocks, which stdio then reads straight into
    // the buffer instead of copying them out of its own; room before it for
    // a held-back sequence, and one byte more for the '\0' that ends what
    // the parser may read.
    static constexpr std::size_t block_size = std::size_t{1} << 16;
    // A UTF-8 sequence is at most four bytes: at most three are held back.
    static constexpr std::size_t most_held = 3;
    std::array<char, most_held> held_{};
    std::size_t held_count_ = 0;
    std::array<char, most_held + block_size + 1> buffer_{};
    std::size_t at_ = 0;
    std::size_t filled_ = 0;  // checked, for the parser to read
    std::size_t consumed_ = 0;
    bool ended_ = false;
    int read_error_ = 0;
    std::optional<std::size_t> bad_utf8_at_;
};

}  // namespace tallywire
