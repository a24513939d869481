#pragma once

// The official names that the system's host, service and protocol databases
// give, through the forms of their calls that several threads may make at
// once. Every source the name service switch lists is consulted, just as by
// gethostbyaddr, getservbyport and getprotobynumber, which answer alike.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tallywire {

// An IPv4 address held as its four bytes in network order.
std::optional<std::string> host_name_of(std::uint32_t address);
std::optional<std::string> host_name_of(const std::array<std::uint8_t, 16>& ipv6_address);

// A port in host order, of any protocol: the report does not record whether
// it was TCP or UDP.
std::optional<std::string> service_name_of(std::uint16_t port);

std::optional<std::string> protocol_name_of(std::uint16_t protocol);

}  // namespace tallywire
