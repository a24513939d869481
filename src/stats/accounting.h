#pragma once

// How a frame is counted: the key it has in each kind of table, and the
// counting of it under every key.

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "capture/bounded_read.h"
#include "capture/packet_record.h"
#include "settings.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace key_rules {

inline constexpr std::uint32_t total_value = 2;
inline constexpr std::uint8_t protocol_tcp = 6;
inline constexpr std::uint8_t protocol_udp = 17;

// IPv4 header fields, as offsets into the network-layer bytes.
inline constexpr std::size_t ipv4_fragment_field = 6;
inline constexpr std::size_t ipv4_protocol_field = 9;
inline constexpr std::size_t ipv4_addresses_field = 12;

inline std::uint32_t ip_value(const packet_record& packet) {
    const auto protocol = transport_protocol(packet);
    return protocol ? std::uint32_t{*protocol} + 1 : 0;
}

// The TCP or UDP port of one side, read where the header length puts the
// transport header, and only when both ports were captured. A fragment
// after the first carries no transport header, and neither does a header
// too short to be IPv4's.
inline std::uint32_t port_value(const packet_record& packet, bool source_side) {
    if (!is_ipv4(packet)) {
        return 0;
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
    const std::uint32_t port = source_side ? *ports >> 16 : *ports & 0xffffu;
    if (current_settings.port_limit_enabled &&
        port >= static_cast<std::uint32_t>(current_settings.port_limit)) {
        return 0;
    }
    return port;
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

// The classful network of an address, as inet_netof gives it: one, two or
// three leading bytes by the address class. A missing address is 0, and so
// is its network.
inline std::uint32_t network_value(const packet_record& packet, bool source_side) {
    const std::uint32_t address = ntohl(host_value(packet, source_side));
    if ((address & 0x80000000u) == 0) {
        return address >> 24;
    }
    if ((address & 0xc0000000u) == 0x80000000u) {
        return address >> 16;
    }
    return address >> 8;
}

}  // namespace key_rules

// The key value of one kind for one side of a packet; 0 when the packet has
// no key of that kind on that side, and for any other kind. Inline: the
// per-frame accounting derives every key through it.
[[gnu::always_inline]] inline std::uint32_t extract_key(std::uint32_t kind,
                                                        const packet_record& packet,
                                                        bool source_side) {
    switch (kind) {
    case stat_total: return key_rules::total_value;
    case stat_link: return packet.link_code + 1;
    case stat_ip: return key_rules::ip_value(packet);
    case stat_port: return key_rules::port_value(packet, source_side);
    case stat_host: return key_rules::host_value(packet, source_side);
    case stat_network: return key_rules::network_value(packet, source_side);
    default: return 0;
    }
}

// Counts the packet into every table under every non-zero key.
void account_packet(const packet_record& packet);

// The sink that the run hands to its source; it ignores sink_arg.
void accounting_sink(const packet_record* packet, void* sink_arg);

}  // namespace tallywire
