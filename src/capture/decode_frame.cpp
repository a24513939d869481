#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>

#include "capture/byte_order.h"
#include "capture/packet_record.h"
#include "program_state.h"

namespace {

// Family words of the BSD loopback header: 28 is IPv6 in FreeBSD's
// numbering, compared as a plain number since AF_INET6 differs by system.
std::uint32_t null_link_network_class(std::uint32_t family) {
    switch (family) {
    case 2: return 1;
    case 28: return 2;
    default: return 0;
    }
}

std::uint32_t ethernet_network_class(std::uint16_t ether_type) {
    switch (ether_type) {
    case 0x0800: return 1;  // IPv4
    case 0x86dd: return 2;  // IPv6
    case 0x0806: return 3;  // ARP
    case 0x8035: return 4;  // reverse ARP
    case 0x8137: return 5;  // IPX
    case 0x809b: return 6;  // AppleTalk
    case 0x80f3: return 7;  // AppleTalk ARP
    default: return 0;      // VLAN tags and 802.3 lengths included
    }
}

// An unlisted PPP protocol is 255, not 0.
std::uint32_t ppp_network_class(std::uint16_t protocol) {
    switch (protocol) {
    case 0x0021: return 1;  // IPv4
    case 0x0057: return 2;  // IPv6
    case 0x8021: return 3;  // IPCP
    case 0x8057: return 4;  // IPv6 control protocol
    case 0x80fd: return 5;  // CCP
    case 0xc021: return 6;  // LCP
    case 0xc023: return 7;  // PAP
    case 0xc223: return 8;  // CHAP
    default: return 255;
    }
}

}  // namespace

void decode_frame(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes) {
    const auto* context = reinterpret_cast<const capture_context*>(user);
    packet_record& packet = current_packet;
    const std::uint32_t captured = header->caplen;

    // A frame shorter than its link header keeps its link class, gets the
    // network class 0 and copies nothing: none of its bytes is read.
    std::uint32_t link_code = 0;
    std::uint32_t link_header = 0;
    switch (context->datalink) {
    case DLT_NULL:
        link_header = 4;
        link_code = link_class_null;
        if (captured >= link_header) {
            std::uint32_t family;
            std::memcpy(&family, bytes, sizeof family);
            link_code |= null_link_network_class(family) << 8;
        }
        break;
    case DLT_EN10MB:
        link_header = 14;
        link_code = link_class_ethernet;
        if (captured >= link_header) {
            std::memcpy(packet.ether_dst.data(), bytes, 6);
            std::memcpy(packet.ether_src.data(), bytes + 6, 6);
            packet.ether_type = read_big_endian16(bytes + 12);
            link_code |= ethernet_network_class(packet.ether_type) << 8;
        }
        break;
    case DLT_PPP:
        link_header = 4;
        link_code = link_class_ppp;
        if (captured >= link_header) {
            link_code |= ppp_network_class(read_big_endian16(bytes + 2)) << 8;
        }
        break;
    default:
        break;
    }

    const std::uint32_t copied =
        captured > link_header
            ? std::min<std::uint32_t>(captured - link_header, packet_data_size)
            : 0;

    packet.link_code = link_code;
    packet.counted_length = header->len;
    packet.timestamp.seconds = header->ts.tv_sec;
    packet.timestamp.microseconds = header->ts.tv_usec;
    if (copied != 0) {
        std::memcpy(packet.data.data(), bytes + link_header, copied);
    }
    packet.copied_length = copied;

    context->sink(&packet, context->sink_arg);
}
