#pragma once

// The texts that stand in the first column of a report line. Names come from
// the system's protocol, service and host databases unless resolving is off.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "stats/stat_kinds.h"
#include "stats/table_records.h"

namespace tallywire {

// Host names are cut so that name, blank and direction mark fit the label
// column of 25.
inline constexpr std::size_t host_name_width = 24;
inline constexpr std::size_t host_name_width_split = 22;

// A constant text for the link class (low byte) and network class (second
// byte) of a link code.
const char* link_label(std::uint32_t link_code);

// The protocol's official name, or its number. The text lives in a buffer
// shared with service_label and stays valid until the next call of either.
const char* protocol_label(std::uint16_t protocol, bool no_resolve);
// The same from a name looked up before; null stands for no entry.
const char* named_protocol_label(std::uint16_t protocol, const char* name);

// "name (port)" from the services database, or the port number. Same buffer
// as protocol_label.
const char* service_label(std::uint16_t port, bool no_resolve);
const char* named_service_label(std::uint16_t port, const char* name);

// "> " for a source-side row and "< " for a destination-side row while the
// sides are counted apart; empty otherwise.
std::string_view direction_suffix(const report_row& row, bool direction_split);
std::string_view direction_suffix(std::int8_t direction, bool direction_split);

// The host name of an address held as its four bytes in network order, cut to
// name_width characters, or the dotted address. Written into text, whose size
// bounds it.
std::string_view host_label(std::uint32_t address, bool no_resolve, std::size_t name_width,
                            std::span<char> text);
std::string_view named_host_label(std::uint32_t address, const char* name, std::size_t name_width,
                                  std::span<char> text);

// As host_label, for an IPv6 address: the name, or the text inet_ntop writes
// (RFC 5952).
std::string_view ipv6_host_label(const std::array<std::uint8_t, 16>& address, bool no_resolve,
                                 std::size_t name_width, std::span<char> text);

// As named_host_label, for an IPv6 address.
std::string_view named_ipv6_host_label(const std::array<std::uint8_t, 16>& address,
                                       const char* name, std::size_t name_width,
                                       std::span<char> text);

// An IPv6 /64 prefix, the rest of its bytes zero, as inet_ntop writes it
// followed by "/64": "2001:db8:1:2::/64".
std::string_view ipv6_network_label(const std::array<std::uint8_t, 16>& prefix,
                                    std::span<char> text);

// A classful network number in host order, dotted with its host part as
// zeros: 10 gives "10.0.0.0", 44048 gives "172.16.0.0".
std::string_view network_label(std::uint32_t network, std::span<char> text);

}  // namespace tallywire
