#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "capture/bounded_read.h"
#include "capture/link_classes.h"

struct pcap_pkthdr;

namespace tallywire {

// The most network-layer bytes of a frame that anything reads; the rest of
// a longer frame is counted by its wire length alone. Reports depend on the
// cap: a header that lies past it is one the frame did not capture.
inline constexpr std::size_t packet_data_size = 32768;

struct packet_timestamp {
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};

// One frame as its sink sees it, made on the stack by decode_frame. The
// bytes are not copied: captured points into the buffer of the source that
// read the frame (libpcap's, or the snoop reader's), and is valid only for
// the call of the sink. Every read of them goes through bounded_read.h.
struct frame_view {
    std::uint32_t link_code = 0;  // link class + 256 * network class
    byte_span captured;           // the network-layer bytes, at most packet_data_size
    std::uint32_t wire_length = 0;  // what byte counters add
    packet_timestamp timestamp;
};

using packet_sink = void (*)(const frame_view& frame, void* sink_arg);

// What a source hands to decode_frame with every frame.
struct capture_context {
    packet_sink sink = nullptr;
    void* sink_arg = nullptr;
    std::int32_t datalink = 0;
    // --look-through: tags, tunnels and more link types are read through to
    // the network layer.
    bool look_through = false;
};

// Classifies one frame into a view and hands the view to the context's
// sink. Shaped like libpcap's pcap_handler: `user` is the address of a
// capture_context.
void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes);

// The same for a reader that knows each frame's link type itself (a pcapng
// file's interfaces may differ in it): datalink is a DLT_ value, frame the
// captured bytes, which stay where the reader keeps them.
void decode_frame_of_link(const capture_context& context, int datalink, byte_span frame,
                          std::uint32_t wire_length, packet_timestamp timestamp);

inline std::uint32_t network_class(const frame_view& frame) {
    return (frame.link_code >> 8) & 0xffu;
}

inline int is_ipv4(const frame_view& frame) {
    return network_class(frame) == network_class_ipv4 ? 1 : 0;
}

inline int is_ipv6(const frame_view& frame) {
    return network_class(frame) == network_class_ipv6 ? 1 : 0;
}

// The IPv4 protocol byte or the IPv6 next-header byte; absent for any other
// network class and for a frame that did not capture that byte.
inline std::optional<std::uint8_t> transport_protocol(const frame_view& frame) {
    switch (network_class(frame)) {
    case network_class_ipv4: return read_u8(frame.captured, 9);
    case network_class_ipv6: return read_u8(frame.captured, 6);
    default: return std::nullopt;
    }
}

}  // namespace tallywire
