#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

#include "capture/bounded_read.h"
#include "capture/capture_state.h"
#include "capture/link_classes.h"
#include "capture/packet_record.h"

namespace tallywire {

namespace {

constexpr const link_class_entry& null_link = link_classes[1];
constexpr const link_class_entry& ethernet = link_classes[2];
constexpr const link_class_entry& ppp = link_classes[3];
static_assert(null_link.link_class == link_class_null);
static_assert(ethernet.link_class == link_class_ethernet);
static_assert(ppp.link_class == link_class_ppp);

}  // namespace

void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
    const auto* context = reinterpret_cast<const capture_context*>(user);
    packet_record& packet = current_packet;
    const byte_span frame(bytes, header->caplen);

    // A frame shorter than its link header keeps its link class, gets the
    // network class 0 and copies nothing: none of its bytes is read.
    std::uint32_t link_code = 0;
    std::uint32_t link_header = 0;
    switch (context->datalink) {
    case DLT_NULL:
        link_header = 4;
        link_code = link_class_null;
        if (const auto family = read_host32(frame, 0)) {
            link_code |= std::uint32_t{network_class_of(null_link, *family)} << 8;
        }
        break;
    case DLT_EN10MB:
        link_header = 14;
        link_code = link_class_ethernet;
        if (const auto ethernet_header = read_bytes<14>(frame, 0)) {
            std::memcpy(packet.ether_dst.data(), ethernet_header->data(), 6);
            std::memcpy(packet.ether_src.data(), ethernet_header->data() + 6, 6);
            packet.ether_type = big_endian16(ethernet_header->subspan<12, 2>());
            link_code |= std::uint32_t{network_class_of(ethernet, packet.ether_type)} << 8;
        }
        break;
    case DLT_PPP:
        link_header = 4;
        link_code = link_class_ppp;
        // The address and control bytes are skipped without a look.
        if (const auto protocol = read_big_endian16(frame, 2)) {
            link_code |= std::uint32_t{network_class_of(ppp, *protocol)} << 8;
        }
        break;
    default:
        break;
    }

    const std::uint32_t copied =
        frame.size() > link_header
            ? std::min<std::uint32_t>(static_cast<std::uint32_t>(frame.size()) - link_header,
                                      packet_data_size)
            : 0;

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
