#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "capture/capture_mode.h"

struct pcap_pkthdr;

inline constexpr std::size_t packet_data_size = 32768;

// Link classes (low byte of a link_code).
inline constexpr std::uint32_t link_class_unknown = 0;
inline constexpr std::uint32_t link_class_null = 1;
inline constexpr std::uint32_t link_class_ethernet = 2;
inline constexpr std::uint32_t link_class_ppp = 4;

// Network classes shared by every link class (high byte of a link_code).
inline constexpr std::uint32_t network_class_ipv4 = 1;
inline constexpr std::uint32_t network_class_ipv6 = 2;

struct packet_timestamp {
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};

// The one record of the current frame, overwritten by every frame.
// Only the first copied_length bytes of data belong to the current frame;
// whatever lies past them is left over from earlier frames and must not be
// read as this frame's.
struct packet_record {
    packet_timestamp timestamp;
    std::uint32_t counted_length = 0;  // wire length: what byte counters add
    std::uint32_t copied_length = 0;   // bytes of data that are this frame's
    std::uint32_t link_code = 0;       // link class + 256 * network class
    std::array<std::uint8_t, 6> ether_dst{};
    std::array<std::uint8_t, 6> ether_src{};
    std::uint16_t ether_type = 0;  // host byte order
    std::array<std::uint8_t, packet_data_size> data{};
};

using packet_sink = void (*)(const packet_record* packet, void* sink_arg);

// What a source hands to decode_frame with every frame.
struct capture_context {
    packet_sink sink = nullptr;
    void* sink_arg = nullptr;
    capture_mode mode;
    std::int32_t datalink = 0;
};

// Classifies one frame into the program-wide packet record and hands the
// record to the context's sink. Shaped like libpcap's pcap_handler: `user`
// is the address of a capture_context.
void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes);

inline std::uint32_t network_class(const packet_record& packet) {
    return (packet.link_code >> 8) & 0xffu;
}

inline int is_ipv4(const packet_record& packet) {
    return network_class(packet) == network_class_ipv4 ? 1 : 0;
}

inline int is_ipv6(const packet_record& packet) {
    return network_class(packet) == network_class_ipv6 ? 1 : 0;
}

// True when the current frame captured data[offset .. offset + width).
inline bool has_captured(const packet_record& packet, std::size_t offset, std::size_t width) {
    return offset + width <= packet.copied_length;
}

// The IPv4 protocol byte or the IPv6 next-header byte; 0 for any other
// network class and for a frame that did not capture that byte.
inline std::uint8_t transport_protocol(const packet_record& packet) {
    switch (network_class(packet)) {
    case network_class_ipv4:
        return has_captured(packet, 9, 1) ? packet.data[9] : 0;
    case network_class_ipv6:
        return has_captured(packet, 6, 1) ? packet.data[6] : 0;
    default:
        return 0;
    }
}
