#pragma once

// The rules that give a packet its key of each kind: where the protocol,
// the ports and the addresses lie in IPv4 and IPv6 headers, and which of
// them a packet has. extract_key (stats/accounting.h) applies them.

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "capture/bounded_read.h"
#include "capture/frame_view.h"
#include "stats/accounting_context.h"
#include "stats/stat_kinds.h"
#include "stats/table_records.h"
#include "stats/wide_store.h"

namespace tallywire {

namespace key_rules {

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
    const key_rules::ipv6_chain& of(const frame_view& packet) {
        if (!chain_) {
            chain_ = key_rules::follow_ipv6_chain(packet.captured);
        }
        return *chain_;
    }

private:
    std::optional<key_rules::ipv6_chain> chain_;
};

namespace key_rules {

inline std::uint32_t ip_value(const frame_view& packet, ipv6_chain_cache& chain,
                              const accounting_context& context) {
    const auto protocol = context.ipv6 && is_ipv6(packet)
                              ? chain.of(packet).protocol
                              : transport_protocol(packet);
    return protocol ? keys::ip_key(*protocol) : 0;
}

// A port as the port limit lets it through: 0 when it is at or above the
// limit.
inline std::uint32_t within_port_limit(std::uint32_t port, const accounting_context& context) {
    if (context.port_limit_enabled && port >= static_cast<std::uint32_t>(context.port_limit)) {
        return 0;
    }
    return port;
}

// The keys of a packet's two sides for a two-sided kind: its ports, hosts
// or networks, each read once for both sides.
struct side_values {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
};

// Both ports of the four bytes where a TCP or UDP header begins.
inline side_values ports_within_limit(std::uint32_t ports, const accounting_context& context) {
    return {within_port_limit(ports >> 16, context), within_port_limit(ports & 0xffffu, context)};
}

// The ports of an IPv6 packet whose chain was followed to its end, that is
// no fragment after the first, and whose four port bytes were captured.
inline side_values ipv6_port_values(const frame_view& packet, ipv6_chain_cache& cache,
                                    const accounting_context& context) {
    const byte_span header = packet.captured;
    const ipv6_chain& chain = cache.of(packet);
    if (!chain.complete || chain.later_fragment ||
        (*chain.protocol != protocol_tcp && *chain.protocol != protocol_udp)) {
        return {};
    }
    const auto ports = read_big_endian32(header, chain.transport);
    return ports ? ports_within_limit(*ports, context) : side_values{};
}

// The TCP or UDP ports, read where the header length puts the transport
// header, and only when both were captured. A fragment after the first
// carries no transport header, and neither does a header too short to be
// IPv4's. Both sides in one reading: the Port table counts both.
inline side_values port_values(const frame_view& packet, ipv6_chain_cache& chain,
                               const accounting_context& context) {
    if (!is_ipv4(packet)) {
        return context.ipv6 && is_ipv6(packet) ? ipv6_port_values(packet, chain, context)
                                               : side_values{};
    }
    const byte_span header = packet.captured;
    const auto fixed = read_bytes<ipv4_protocol_field + 1>(header, 0);
    if (!fixed) {
        return {};
    }
    const std::uint8_t protocol = (*fixed)[ipv4_protocol_field];
    if (protocol != protocol_tcp && protocol != protocol_udp) {
        return {};
    }
    const std::size_t header_words = (*fixed)[0] & 0x0fu;
    const bool later_fragment =
        (big_endian16(fixed->subspan<ipv4_fragment_field, 2>()) & 0x1fffu) != 0;
    if (header_words < 5 || later_fragment) {
        return {};
    }
    const auto ports = read_big_endian32(header, header_words * 4);
    return ports ? ports_within_limit(*ports, context) : side_values{};
}

inline std::uint32_t port_value(const frame_view& packet, bool source_side,
                                ipv6_chain_cache& chain, const accounting_context& context) {
    const side_values ports = port_values(packet, chain, context);
    return source_side ? ports.source : ports.destination;
}

// The addresses exactly as they lie in the header, each read as one
// number; only when both were captured.
inline side_values host_values(const frame_view& packet) {
    if (!is_ipv4(packet)) {
        return {};
    }
    const auto addresses = read_bytes<8>(packet.captured, ipv4_addresses_field);
    if (!addresses) {
        return {};
    }
    side_values values;
    std::memcpy(&values.source, addresses->data(), sizeof values.source);
    std::memcpy(&values.destination, addresses->data() + 4, sizeof values.destination);
    return values;
}

inline std::uint32_t host_value(const frame_view& packet, bool source_side) {
    const side_values values = host_values(packet);
    return source_side ? values.source : values.destination;
}

// The classful network of an address as it lies in the header. A missing
// address is 0, and so is its network.
inline std::uint32_t network_of(std::uint32_t host) { return keys::network_key(ntohl(host)); }

inline side_values network_values(const frame_view& packet) {
    const side_values hosts = host_values(packet);
    return {network_of(hosts.source), network_of(hosts.destination)};
}

inline std::uint32_t network_value(const frame_view& packet, bool source_side) {
    return network_of(host_value(packet, source_side));
}

// Both addresses of an IPv6 packet, each as the words of a wide key; only
// when both were captured. The unspecified address has no key, as 0.0.0.0
// has none.
struct ipv6_sides {
    key16 source;
    key16 destination;
    bool has_source = false;
    bool has_destination = false;
};

inline ipv6_sides ipv6_addresses(const frame_view& packet) {
    ipv6_sides sides;
    const auto addresses = read_bytes<32>(packet.captured, ipv6_addresses_field);
    if (!addresses) {
        return sides;
    }
    sides.source = key16::of_bytes(addresses->first<16>());
    sides.destination = key16::of_bytes(addresses->last<16>());
    sides.has_source = !sides.source.zero();
    sides.has_destination = !sides.destination.zero();
    return sides;
}

}  // namespace key_rules

}  // namespace tallywire
