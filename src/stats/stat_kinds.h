#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tallywire {

// One bit per statistic kind; a set of kinds is the OR of its bits.
enum stat_kind : std::uint32_t {
    stat_total = 1,
    stat_link = 2,
    stat_ip = 4,
    stat_port = 8,
    stat_host = 16,
    stat_network = 32,
};

// Display names, indexed by bit number.
inline constexpr std::array<std::string_view, 6> stat_kind_names = {
    "Total", "Link", "IP", "Port", "Host", "Network"};

// The name of a kind given as its single bit; empty for anything else.
constexpr std::string_view stat_kind_name(std::uint32_t kind) {
    if (!std::has_single_bit(kind)) {
        return {};
    }
    const auto bit = static_cast<std::size_t>(std::countr_zero(kind));
    return bit < stat_kind_names.size() ? stat_kind_names[bit] : std::string_view{};
}

// The single bit of a kind by its display name; nothing for another name.
constexpr std::optional<std::uint32_t> stat_kind_of_name(std::string_view name) {
    for (std::size_t bit = 0; bit < stat_kind_names.size(); ++bit) {
        if (stat_kind_names[bit] == name) {
            return std::uint32_t{1} << bit;
        }
    }
    return std::nullopt;
}

// Port, Host and Network count a packet under its source and its destination.
constexpr bool two_sided(std::uint32_t kind) {
    return kind == stat_port || kind == stat_host || kind == stat_network;
}

}  // namespace tallywire
