#include "report/utf8_text.h"

#include <cstdint>
#include <cstring>

namespace tallywire {

std::size_t utf8_sequence_length(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length;
    std::uint8_t low = 0x80;   // range of the second byte
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t at = 2; at < length; ++at) {
        if (byte(at) < 0x80 || byte(at) > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::size_t well_formed_utf8_prefix(std::string_view text) {
    constexpr std::uint64_t high_bits = 0x8080808080808080u;
    std::size_t at = 0;
    while (at < text.size()) {
        // A merge reads hundreds of megabytes of nearly pure ASCII: sixteen
        // bytes at a time while no byte has its high bit set.
        while (at + 16 <= text.size()) {
            std::uint64_t words[2];
            std::memcpy(words, text.data() + at, sizeof words);
            if (((words[0] | words[1]) & high_bits) != 0) {
                break;
            }
            at += 16;
        }
        if (at == text.size()) {
            break;
        }
        const std::size_t length = utf8_sequence_length(text.substr(at));
        if (length == 0) {
            break;
        }
        at += length;
    }
    return at;
}

}  // namespace tallywire
