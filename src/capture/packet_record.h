#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "capture/bounded_read.h"
#include "capture/link_classes.h"
#include "settings.h"

struct pcap_pkthdr;

namespace tallywire {

inline constexpr std::size_t packet_data_size = 32768;

struct packet_timestamp {
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};

// The one record of the current frame, overwritten by every frame.
// Only the first copied_length bytes of data belong to the current frame;
// whatever lies past them is left over from earlier frames, so the frame's
// bytes are read through captured() alone.
struct packet_record {
    packet_timestamp timestamp;
    std::uint32_t counted_length = 0;  // wire length: what byte counters add
    std::uint32_t copied_length = 0;   // bytes of data that are this frame's
    std::uint32_t link_code = 0;       // link class + 256 * network class
    std::array<std::uint8_t, 6> ether_dst{};
    std::array<std::uint8_t, 6> ether_src{};
    std::uint16_t ether_type = 0;  // host byte order
    std::array<std::uint8_t, packet_data_size> data{};

    // The network-layer bytes this frame captured.
    byte_span captured() const { return byte_span(data).first(copied_length); }
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

// The IPv4 protocol byte or the IPv6 next-header byte; absent for any other
// network class and for a frame that did not capture that byte.
inline std::optional<std::uint8_t> transport_protocol(const packet_record& packet) {
    switch (network_class(packet)) {
    case network_class_ipv4: return read_u8(packet.captured(), 9);
    case network_class_ipv6: return read_u8(packet.captured(), 6);
    default: return std::nullopt;
    }
}

}  // namespace tallywire
