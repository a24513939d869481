#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

#include "capture/bounded_read.h"
#include "capture/capture_state.h"
#include "capture/link_classes.h"
#include "capture/link_layer.h"
#include "capture/packet_record.h"
#include "settings.h"

namespace tallywire {

namespace {

// The classic reading: Ethernet, PPP (its protocol at bytes 2-3) and the BSD
// loopback header (IPv6 as 28, in the host's byte order); every other link
// type is unclassified. In this file so that it is inlined into the
// per-frame path.
link_layer classic_link(int datalink, byte_span frame, packet_record& packet) {
    // A frame shorter than its link header keeps its link class and gets
    // the network class 0: none of its bytes is read.
    switch (datalink) {
    case DLT_NULL: {
        link_layer link{link_class_null, 4};
        if (const auto family = read_host32(frame, 0)) {
            link.link_code |= std::uint32_t{network_class_of(null_link_families, *family, 0)} << 8;
        }
        return link;
    }
    case DLT_EN10MB: {
        link_layer link{link_class_ethernet, 14};
        if (const auto header = read_bytes<14>(frame, 0)) {
            std::memcpy(packet.ether_dst.data(), header->data(), 6);
            std::memcpy(packet.ether_src.data(), header->data() + 6, 6);
            packet.ether_type = big_endian16(header->subspan<12, 2>());
            link.link_code |= std::uint32_t{network_class_of(ethernet_protocols,
                                                             packet.ether_type, 0)}
                              << 8;
        }
        return link;
    }
    case DLT_PPP: {
        link_layer link{link_class_ppp, 4};
        // The address and control bytes are skipped without a look.
        if (const auto protocol = read_big_endian16(frame, 2)) {
            link.link_code |= std::uint32_t{network_class_of(link_class_entry_of(link_class_ppp),
                                                             *protocol)}
                              << 8;
        }
        return link;
    }
    default:
        return {link_class_unknown, 0};
    }
}

}  // namespace

void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
    const auto* context = reinterpret_cast<const capture_context*>(user);
    packet_record& packet = current_packet;
    const byte_span frame(bytes, header->caplen);

    const link_layer link = current_settings.look_through
                                ? look_through_link(context->datalink, frame, packet)
                                : classic_link(context->datalink, frame, packet);
    const std::uint32_t link_code = link.link_code;
    const std::size_t link_header = link.header_length;

    const auto copied = static_cast<std::uint32_t>(
        frame.size() > link_header ? std::min(frame.size() - link_header, packet_data_size) : 0);

    packet.link_code = link_code;
    packet.counted_length = header->len;
    packet.timestamp.seconds = header->ts.tv_sec;
    packet.timestamp.microseconds = header->ts.tv_usec;
    if (copied != 0) {
        std::memcpy(packet.data.data(), frame.data() + link_header, copied);
    }
    packet.copied_length = copied;

    context->sink(&packet, context->sink_arg);
}

}  // namespace tallywire
