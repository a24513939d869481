#pragma once

// The rules that give a packet its key of each kind: where the protocol,
// the ports and the addresses lie in IPv4 and IPv6 headers, and which of
// them a packet has. extract_key (stats/accounting.h) applies them.

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "capture/bounded_read.h"
#include "capture/packet_record.h"
#include "settings.h"
#include "stats/stat_kinds.h"
#include "stats/table_records.h"

namespace tallywire {

namespace key_rules {

inline constexpr std::uint32_t total_value = 2;
inline constexpr std::uint8_t protocol_tcp = 6;
inline constexpr std::uint8_t protocol_udp = 17;

// IPv4 header fields, as offsets into the network-layer bytes.
inline constexpr std::size_t ipv4_fragment_field = 6;
inline constexpr std::size_t ipv4_protocol_field = 9;
inline constexpr std::size_t ipv4_addresses_field = 12;

// IPv6 header fields and extension headers.
inline constexpr std::size_t ipv6_addresses_field = 8;
inline constexpr std::size_t ipv6_header_size = 40;
inline constexpr std::uint8_t ipv6_hop_by_hop = 0;
inline constexpr std::uint8_t ipv6_routing = 43;
inline constexpr std::uint8_t ipv6_fragment = 44;
inline constexpr std::uint8_t ipv6_authentication = 51;
inline constexpr std::uint8_t ipv6_destination_options = 60;

// Where an IPv6 packet's chain of extension headers leads.
struct ipv6_chain {
    std::optional<std::uint8_t> protocol;  // the upper-layer protocol
    std::size_t transport = 0;             // where its header begins
    bool complete = false;                 // every extension header was read
    bool later_fragment = false;           // a Fragment header of offset > 0
};

// Follows the extension headers from the next-header byte, reading of each
// only the bytes used here: its first two (next header and length), or the
// first four of a Fragment header. When the chain runs past the captured
// bytes, the protocol is the next-header value that points at the header
// that could not be read. Mobility, HIP and Shim6 headers end a chain: in
// practice nothing follows them.
inline ipv6_chain follow_ipv6_chain(byte_span header) {
    ipv6_chain chain;
    chain.protocol = read_u8(header, 6);
    if (!chain.protocol) {
        return chain;
    }
    std::size_t offset = ipv6_header_size;
    for (;;) {
        const std::uint8_t next = *chain.protocol;
        std::size_t length = 0;
        std::optional<std::span<const std::uint8_t, 2>> start;
        switch (next) {
        case ipv6_hop_by_hop:
        case ipv6_routing:
        case ipv6_destination_options:
            start = read_bytes<2>(header, offset);
            length = start ? (std::size_t{(*start)[1]} + 1) * 8 : 0;
            break;
        case ipv6_authentication:
            start = read_bytes<2>(header, offset);
            length = start ? (std::size_t{(*start)[1]} + 2) * 4 : 0;
            break;
        case ipv6_fragment:
            if (const auto fragment = read_bytes<4>(header, offset)) {
                start = fragment->first<2>();
                chain.later_fragment |= (big_endian16(fragment->subspan<2, 2>()) >> 3) != 0;
                length = 8;
            }
            break;
        default:
            chain.transport = offset;
            chain.complete = true;
            return chain;
        }
        if (!start) {
            return chain;
        }
        chain.protocol = (*start)[0];
        offset += length;
    }
}

}  // namespace key_rules

// The chain of one IPv6 packet, followed once for all the keys that need it
// (IP and both ports) when the caller keeps this for the packet.
class ipv6_chain_cache {
public:
    const key_rules::ipv6_chain& of(const packet_record& packet) {
        if (!chain_) {
            chain_ = key_rules::follow_ipv6_chain(packet.captured());
        }
        return *chain_;
    }

private:
    std::optional<key_rules::ipv6_chain> chain_;
};

namespace key_rules {

inline std::uint32_t ip_value(const packet_record& packet, ipv6_chain_cache& chain) {
    const auto protocol = current_settings.ipv6 && is_ipv6(packet)
                              ? chain.of(packet).protocol
                              : transport_protocol(packet);
    return protocol ? std::uint32_t{*protocol} + 1 : 0;
}

// A port as the port limit lets it through: 0 when it is at or above the
// limit.
inline std::uint32_t within_port_limit(std::uint32_t port) {
    if (current_settings.port_limit_enabled &&
        port >= static_cast<std::uint32_t>(current_settings.port_limit)) {
        return 0;
    }
    return port;
}

// The TCP or UDP port of one side of an IPv6 packet whose chain was
// followed to its end, that is no fragment after the first, and whose four
// port bytes were captured.
inline std::uint32_t ipv6_port_value(const packet_record& packet, bool source_side,
                                     ipv6_chain_cache& cache) {
    const byte_span header = packet.captured();
    const ipv6_chain& chain = cache.of(packet);
    if (!chain.complete || chain.later_fragment ||
        (*chain.protocol != protocol_tcp && *chain.protocol != protocol_udp)) {
        return 0;
    }
    const auto ports = read_big_endian32(header, chain.transport);
    if (!ports) {
        return 0;
    }
    return within_port_limit(source_side ? *ports >> 16 : *ports & 0xffffu);
}

// The TCP or UDP port of one side, read where the header length puts the
// transport header, and only when both ports were captured. A fragment
// after the first carries no transport header, and neither does a header
// too short to be IPv4's.
inline std::uint32_t port_value(const packet_record& packet, bool source_side,
                                ipv6_chain_cache& chain) {
    if (!is_ipv4(packet)) {
        return current_settings.ipv6 && is_ipv6(packet)
                   ? ipv6_port_value(packet, source_side, chain)
                   : 0;
    }
    const byte_span header = packet.captured();
    const auto fixed = read_bytes<ipv4_protocol_field + 1>(header, 0);
    if (!fixed) {
        return 0;
    }
    const std::uint8_t protocol = (*fixed)[ipv4_protocol_field];
    if (protocol != protocol_tcp && protocol != protocol_udp) {
        return 0;
    }
    const std::size_t header_words = (*fixed)[0] & 0x0fu;
    const bool later_fragment =
        (big_endian16(fixed->subspan<ipv4_fragment_field, 2>()) & 0x1fffu) != 0;
    if (header_words < 5 || later_fragment) {
        return 0;
    }
    const auto ports = read_big_endian32(header, header_words * 4);
    if (!ports) {
        return 0;
    }
    return within_port_limit(source_side ? *ports >> 16 : *ports & 0xffffu);
}

// The address exactly as it lies in the header, read as one number; only
// when both addresses were captured.
inline std::uint32_t host_value(const packet_record& packet, bool source_side) {
    if (!is_ipv4(packet)) {
        return 0;
    }
    const auto addresses = read_bytes<8>(packet.captured(), ipv4_addresses_field);
    if (!addresses) {
        return 0;
    }
    std::uint32_t address;
    std::memcpy(&address, addresses->data() + (source_side ? 0 : 4), sizeof address);
    return address;
}

// The classful network of an address in host order, as inet_netof gives
// it: one, two or three leading bytes by the address class.
inline std::uint32_t classful_network(std::uint32_t address) {
    if ((address & 0x80000000u) == 0) {
        return address >> 24;
    }
    if ((address & 0xc0000000u) == 0x80000000u) {
        return address >> 16;
    }
    return address >> 8;
}

// The classful network of one side's address. A missing address is 0, and
// so is its network.
inline std::uint32_t network_value(const packet_record& packet, bool source_side) {
    return classful_network(ntohl(host_value(packet, source_side)));
}

// The IPv6 address of one side, or its /64 prefix for the Network kind;
// only when both addresses were captured. The unspecified address has no
// key, as 0.0.0.0 has none.
inline std::optional<wide_key> ipv6_key(std::uint32_t kind, const packet_record& packet,
                                        bool source_side) {
    const auto addresses = read_bytes<32>(packet.captured(), ipv6_addresses_field);
    if (!addresses) {
        return std::nullopt;
    }
    wide_key key;
    const auto address = addresses->subspan(source_side ? 0 : 16, 16);
    std::copy(address.begin(), address.end(), key.bytes.begin());
    if (key.bytes == decltype(key.bytes){}) {
        return std::nullopt;
    }
    if (kind == stat_network) {
        std::fill(key.bytes.begin() + 8, key.bytes.end(), std::uint8_t{0});
    }
    return key;
}

}  // namespace key_rules

}  // namespace tallywire
