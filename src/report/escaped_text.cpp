#include "report/escaped_text.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "report/utf8_text.h"

namespace tallywire {

namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// Calls put(ascii_byte) for each byte below 0x80 and put_sequence(text) for
// each longer well-formed sequence or replacement.
template <class ascii_type>
void for_each_character(std::string& out, std::string_view text, ascii_type put_ascii) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8_sequence_length(text.substr(at));
        if (length == 1) {
            put_ascii(text[at]);
        } else if (length == 0) {
            out.append(replacement_character);
        } else {
            out.append(text.substr(at, length));
        }
        at += length == 0 ? 1 : length;
    }
}

// Bytes a format writes as they are: printable ASCII but for the ones it
// quotes or escapes. A text of these alone, as nearly every label is, is
// copied whole.
constexpr std::array<bool, 256> plain_bytes(std::string_view special) {
    std::array<bool, 256> plain{};
    for (int byte = 0x20; byte < 0x7f; ++byte) {
        plain[static_cast<std::size_t>(byte)] = special.find(static_cast<char>(byte)) == std::string_view::npos;
    }
    return plain;
}
constexpr std::array<bool, 256> json_plain = plain_bytes("\"\\");
constexpr std::array<bool, 256> csv_plain = plain_bytes(",\"");

bool all_plain(std::string_view text, const std::array<bool, 256>& plain) {
    bool every = true;
    for (const char byte : text) {
        every &= plain[static_cast<std::uint8_t>(byte)];
    }
    return every;
}

bool needs_csv_quotes(std::string_view text) {
    return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    if (all_plain(text, json_plain)) {
        out.append(text);
        out.push_back('"');
        return;
    }
    for_each_character(out, text, [&](char ascii) {
        switch (ascii) {
        case '"': out.append("\\\""); return;
        case '\\': out.append("\\\\"); return;
        case '\n': out.append("\\n"); return;
        case '\r': out.append("\\r"); return;
        case '\t': out.append("\\t"); return;
        default: break;
        }
        const auto code = static_cast<std::uint8_t>(ascii);
        if (code < 0x20) {
            out.append("\\u00");
            out.push_back(hex[code >> 4]);
            out.push_back(hex[code & 0xf]);
        } else {
            out.push_back(ascii);
        }
    });
    out.push_back('"');
}

void append_csv_field(std::string& out, std::string_view text) {
    if (all_plain(text, csv_plain)) {
        out.append(text);
        return;
    }
    const bool quoted = needs_csv_quotes(text);
    if (quoted) {
        out.push_back('"');
    }
    for_each_character(out, text, [&](char ascii) {
        const auto code = static_cast<std::uint8_t>(ascii);
        if (ascii == '"') {
            out.append("\"\"");
        } else if ((code < 0x20 && ascii != '\r' && ascii != '\n') || code == 0x7f) {
            out.append(replacement_character);
        } else {
            out.push_back(ascii);
        }
    });
    if (quoted) {
        out.push_back('"');
    }
}

}  // namespace tallywire
