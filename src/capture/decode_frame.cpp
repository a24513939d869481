#include <pcap/pcap.h>

#include <algorithm>

#include "capture/bounded_read.h"
#include "capture/capture_state.h"
#include "capture/frame_view.h"
#include "capture/link_classes.h"
#include "capture/link_layer.h"

namespace tallywire {

namespace {

// The classic reading: Ethernet, PPP (its protocol at bytes 2-3) and the BSD
// loopback header (IPv6 as 28, in the host's byte order); every other link
// type is unclassified. In this file so that it is inlined into the
// per-frame path.
link_layer classic_link(int datalink, byte_span frame) {
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
        if (const auto type = read_big_endian16(frame, 12)) {
            const std::uint8_t network_class = network_class_of(ethernet_protocols, *type, 0);
            link.link_code |= std::uint32_t{network_class} << 8;
            if (network_class == 0) [[unlikely]] {
                // What --look-through would read through, for the hints.
                thread_hints.tagged += is_one_of(*type, vlan_tag_types) ? 1 : 0;
                thread_hints.pppoe += *type == pppoe_session_type ? 1 : 0;
            }
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
        if (const char* name = look_through_only_link(datalink)) {
            ++thread_hints.look_through_frames;
            thread_hints.look_through_link = name;
        }
        return {link_class_unknown, 0};
    }
}

}  // namespace

void decode_frame_of_link(const capture_context& context, int datalink, byte_span frame,
                          std::uint32_t wire_length, packet_timestamp timestamp) {
    const link_layer link = context.look_through ? look_through_link(datalink, frame)
                                                 : classic_link(datalink, frame);
    const std::size_t link_header = link.header_length;

    frame_view view;
    view.link_code = link.link_code;
    thread_hints.ipv6 += (link.link_code >> 8) == network_class_ipv6 ? 1 : 0;
    if (frame.size() > link_header) {
        view.captured = frame.subspan(link_header).first(
            std::min(frame.size() - link_header, packet_data_size));
    }
    view.wire_length = wire_length;
    view.timestamp = timestamp;

    context.sink(view, context.sink_arg);
}

void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
    const auto* context = reinterpret_cast<const capture_context*>(user);
    decode_frame_of_link(*context, context->datalink, byte_span(bytes, header->caplen),
                         header->len,
                         packet_timestamp{header->ts.tv_sec, header->ts.tv_usec});
}

}  // namespace tallywire
