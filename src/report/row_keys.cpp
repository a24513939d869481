#include "report/row_keys.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "report/row_labels.h"
#include "stats/table_keys.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

// Address and network texts are short: "255.255.255.255", or an IPv6
// address with "/64" (INET6_ADDRSTRLEN 46 with its zero, plus 3).
constexpr std::size_t key_text_room = 64;

std::optional<std::array<std::uint8_t, 16>> parse_ipv6(std::string_view text) {
    const std::string terminated(text);
    std::array<std::uint8_t, 16> address{};
    if (inet_pton(AF_INET6, terminated.c_str(), address.data()) != 1) {
        return std::nullopt;
    }
    return address;
}

// A dotted quad in the one form inet_pton takes: four decimal numbers up
// to 255, without leading zeros; the address in host order. Read here
// rather than through inet_pton, which wants a terminated copy of the text:
// a merge reads millions of them.
std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at == text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const std::size_t start = at;
        std::uint32_t value = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
            ++at;
        }
        if (at == start || value > 255 || (text[start] == '0' && at - start > 1)) {
            return std::nullopt;
        }
        address = address << 8 | value;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return address;
}

// The key field of a key as row_key writes it.
row_key_field written_key(std::uint32_t kind, const std::variant<table_key, wide_key>& key,
                          std::span<char> text) {
    labelled_row row{kind, {}, {}, nullptr, nullptr};
    report_row narrow;
    wide_row wide;
    if (const auto* as_wide = std::get_if<wide_key>(&key)) {
        wide.key = *as_wide;
        row.wide = &wide;
    } else {
        narrow.key = std::get<table_key>(key);
        row.row = &narrow;
    }
    return row_key(row, text);
}

std::optional<std::variant<table_key, wide_key>> parse_text_key(std::uint32_t kind,
                                                                std::string_view text) {
    if (const auto address = parse_ipv4(text)) {
        if (*address == 0) {
            return std::nullopt;
        }
        if (kind == stat_host) {
            return table_key{keys::host_key(*address), 0};
        }
        // A network is written as its address with the host part zero, and
        // that is the one text of its key.
        const std::uint32_t network = keys::network_key(*address);
        if (network == 0 || ntohl(inet_makeaddr(network, 0).s_addr) != *address) {
            return std::nullopt;
        }
        return table_key{network, 0};
    }
    if (text.find(':') == std::string_view::npos) {
        return std::nullopt;
    }
    const bool network = kind == stat_network;
    constexpr std::string_view prefix_length = "/64";
    if (network && !text.ends_with(prefix_length)) {
        return std::nullopt;
    }
    const auto address = parse_ipv6(network ? text.substr(0, text.size() - 3) : text);
    if (!address) {
        return std::nullopt;
    }
    const key16 value = key16::of_bytes(*address);
    // The unspecified address is no host, but its /64 is the network of
    // ::1 and of the IPv4-mapped addresses, counted like any other.
    if (network ? keys::ipv6_network_key(value) != value : value.zero()) {
        return std::nullopt;
    }
    return wide_key{value, 0};
}

}  // namespace

row_key_field row_key(const labelled_row& row, std::span<char> text) {
    using form = row_key_field::form;
    switch (row.kind) {
    case stat_link:
    case stat_ip:
    case stat_port: return {form::number, *keys::number_of(row.kind, row.row->key.value), {}};
    case stat_host:
        return {form::text, 0,
                row.wide ? named_ipv6_host_label(row.wide->key.value.bytes(), nullptr, 0, text)
                         : named_host_label(row.row->key.value, nullptr, 0, text)};
    case stat_network:
        return {form::text, 0,
                row.wide ? ipv6_network_label(row.wide->key.value.bytes(), text)
                         : network_label(row.row->key.value, text)};
    default: return {};
    }
}

std::optional<table_key> key_from_number(std::uint32_t kind, std::uint64_t number) {
    const auto value = keys::value_of_number(kind, number);
    return value ? std::optional(table_key{*value, 0}) : std::nullopt;
}

std::optional<std::variant<table_key, wide_key>> key_from_text(std::uint32_t kind,
                                                                std::string_view text) {
    if (kind != stat_host && kind != stat_network) {
        return std::nullopt;
    }
    const auto key = parse_text_key(kind, text);
    if (!key) {
        return std::nullopt;
    }
    // Only the text row_key writes for the key stands for it: "2001:DB8::"
    // would parse, but two texts of one key in one part would slip past the
    // check for keys that stand twice. IPv4 keys need no check: the parse
    // takes them in their one form only.
    if (std::holds_alternative<wide_key>(*key)) {
        std::array<char, key_text_room> written{};
        if (written_key(kind, *key, written).text != text) {
            return std::nullopt;
        }
    }
    return key;
}

std::string key_in_message(std::uint32_t kind, const std::variant<table_key, wide_key>& key) {
    std::array<char, key_text_room> text{};
    const row_key_field field = written_key(kind, key, text);
    switch (field.shape) {
    case row_key_field::form::none: return "null";
    case row_key_field::form::number: return std::to_string(field.number);
    case row_key_field::form::text: break;
    }
    return "\"" + std::string(field.text) + "\"";
}

}  // namespace tallywire
