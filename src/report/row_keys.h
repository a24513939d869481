#pragma once

// The key of a row as the machine-readable reports write it, and back: the
// merge reads keys exactly as they were written, so both directions are
// stated here once.
//
//   Total    no key (null)
//   Link     the link code: link class in the low byte, network class above
//   IP       the protocol number
//   Port     the port number
//   Host     the address: dotted IPv4, or IPv6 as inet_ntop writes it
//   Network  the network as its label shows it: "212.97.0.0", or
//            "2001:db8:1:2::/64"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "report/labelled_rows.h"
#include "stats/table_records.h"

namespace tallywire {

struct row_key_field {
    enum class form { none, number, text };
    form shape = form::none;
    std::uint32_t number = 0;
    std::string_view text;  // in the caller's buffer
};

// text must have room for an address or network text (64 bytes do).
row_key_field row_key(const labelled_row& row, std::span<char> text);

// The table key of a kind whose key is a number (Total's null is read as
// number 0 here); nothing when the kind takes no number or the number is
// out of its range.
std::optional<table_key> key_from_number(std::uint32_t kind, std::uint64_t number);

// The table key, or the wide key of an IPv6 address or network, of a kind
// whose key is a text; nothing unless the text is exactly what row_key
// writes for some key of that kind. Keys the counting never makes (0.0.0.0,
// ::) are refused too.
std::optional<std::variant<table_key, wide_key>> key_from_text(std::uint32_t kind,
                                                                std::string_view text);

// A key as a document writes it, quoted when it is a text, for a message:
// 80, "10.1.2.3", null.
std::string key_in_message(std::uint32_t kind, const std::variant<table_key, wide_key>& key);

}  // namespace tallywire
