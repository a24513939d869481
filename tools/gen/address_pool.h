#pragma once

// The IPv6 hosts of a mix and the text form of addresses in the fact record.

#include <cstdint>
#include <string>
#include <vector>

#include "frame_builder.h"
#include "random_source.h"

namespace twgen {

// Distinct global and unique-local IPv6 addresses, about four to a /64 so
// that Network rows gather several hosts, with interface identifiers both
// small (2001:db8:7:1::1f) and random, so that the text forms vary.
std::vector<ipv6_address> make_ipv6_hosts(std::uint32_t count, random_source& random);

// Dotted quad of a host-order IPv4 address.
std::string ipv4_text(std::uint32_t address);
// RFC 5952 text, as inet_ntop writes it.
std::string ipv6_text(const ipv6_address& address);

}  // namespace twgen
