#pragma once

// Report text gathered and written in large blocks: one stdio call per row
// is a large share of writing a million of them.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tallywire {

class output_batch {
public:
    explicit output_batch(std::FILE* out) : out_(out) { text_.reserve(flush_size + 4096); }
    output_batch(const output_batch&) = delete;
    output_batch& operator=(const output_batch&) = delete;
    ~output_batch() { flush(); }

    // The text to append to; call settle after each row.
    std::string& text() { return text_; }

    void put(std::string_view part) { text_.append(part); }
    void put(char part) { text_.push_back(part); }
    template <class integer_type>
    void put_number(integer_type number) {
        char digits[24];  // 20 digits of 2^64 - 1, or a sign and 19
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        text_.append(digits, static_cast<std::size_t>(end - digits));
    }

    // Writes out what has gathered once it is a block's worth.
    void settle() {
        if (text_.size() >= flush_size) {
            flush();
        }
    }

    void flush() {
        std::fwrite(text_.data(), 1, text_.size(), out_);
        text_.clear();
    }

private:
    static constexpr std::size_t flush_size = std::size_t{1} << 16;

    std::FILE* out_;
    std::string text_;
};

}  // namespace tallywire
