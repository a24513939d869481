#include <pcap/pcap.h>


#include "capture/link_classes.h"
#include "capture/link_layer.h"

namespace tallywire {

namespace {

constexpr std::uint8_t other_under_ppp = link_class_entry_of(link_class_ppp).other_class;

link_layer classified(std::uint32_t link_class, std::uint8_t network_class, std::size_t offset) {
    return {link_class | std::uint32_t{network_class} << 8, offset};
}

// A header that runs past the captured bytes: the frame keeps its link
// class, with network class 0, and nothing of it is copied.
link_layer cut_short(std::uint32_t link_class, byte_span frame) {
    return {link_class, frame.size()};
}

// The packet after an MPLS stack at offset: label entries of 4 bytes up to
// and including the one with the bottom-of-stack bit, then IPv4 or IPv6 by
// the version nibble, or the link's other.
link_layer after_mpls(std::uint32_t link_class, byte_span frame, std::size_t offset,
                      std::uint8_t other_class) {
    for (;;) {
        const auto entry = read_bytes<4>(frame, offset);
        if (!entry) {
            return cut_short(link_class, frame);
        }
        offset += 4;
        if (((*entry)[2] & 0x01u) != 0) {
            break;
        }
    }
    const auto first = read_u8(frame, offset);
    if (!first) {
        return cut_short(link_class, frame);
    }
    return classified(link_class, network_class_of(ip_versions, *first >> 4, other_class), offset);
}

// A PPP header at offset, as DLT_PPP allows it: the address and control
// bytes FF 03 only in HDLC-like framing, and a protocol field of one byte
// when its first byte is odd (protocol field compression). A lone FF is
// taken for framing cut short, not for a protocol.
link_layer after_ppp(byte_span frame, std::size_t offset) {
    if (read_u8(frame, offset) == 0xff) {
        const auto control = read_u8(frame, offset + 1);
        if (!control) {
            return cut_short(link_class_ppp, frame);
        }
        if (*control == 0x03) {
            offset += 2;
        }
    }
    const auto first = read_u8(frame, offset);
    if (!first) {
        return cut_short(link_class_ppp, frame);
    }
    std::uint16_t protocol = *first;
    if ((*first & 0x01u) != 0) {
        offset += 1;
    } else {
        const auto full = read_big_endian16(frame, offset);
        if (!full) {
            return cut_short(link_class_ppp, frame);
        }
        protocol = *full;
        offset += 2;
    }
    if (is_one_of(protocol, mpls_ppp_protocols)) {
        return after_mpls(link_class_ppp, frame, offset, other_under_ppp);
    }
    return classified(link_class_ppp,
                      network_class_of(link_class_entry_of(link_class_ppp), protocol), offset);
}

// The packet behind an EtherType whose payload begins at offset, under
// Ethernet or Linux cooked links: through VLAN tags, then into a PPPoE
// session or an MPLS stack. Returns the last EtherType in type.
link_layer after_ether_type(std::uint32_t link_class, byte_span frame, std::uint16_t& type,
                            std::size_t offset) {
    // A tag is the 2 bytes of its tag control, then the next type.
    while (is_one_of(type, vlan_tag_types)) {
        const auto next = read_big_endian16(frame, offset + 2);
        if (!next) {
            return cut_short(link_class, frame);
        }
        type = *next;
        offset += 4;
    }
    if (type == pppoe_session_type) {
        // Version and type, code, session and length, then the PPP protocol.
        const auto protocol = read_big_endian16(frame, offset + 6);
        if (!protocol) {
            return cut_short(link_class, frame);
        }
        offset += 8;
        if (is_one_of(*protocol, mpls_ppp_protocols)) {
            return after_mpls(link_class, frame, offset, 0);
        }
        const std::uint8_t carried = network_class_of(link_class_entry_of(link_class_ppp), *protocol);
        const bool ip = carried == network_class_ipv4 || carried == network_class_ipv6;
        return classified(link_class, ip ? carried : 0, offset);
    }
    if (is_one_of(type, mpls_ether_types)) {
        return after_mpls(link_class, frame, offset, 0);
    }
    return classified(link_class, network_class_of(ethernet_protocols, type, 0), offset);
}

// A loopback family word written by a host of the other byte order has
// some of its upper 16 bits set.
link_layer after_loopback(std::optional<std::uint32_t> word, byte_span frame) {
    if (!word) {
        return cut_short(link_class_null, frame);
    }
    const std::uint32_t family = (*word & 0xffff0000u) != 0 ? __builtin_bswap32(*word) : *word;
    return classified(link_class_null, network_class_of(loopback_families, family, 0), 4);
}

// NFLOG: the address family, a version byte and a resource id, then TLVs
// (length and type in the capturing host's byte order, the length counting
// the TLV's own four bytes, each padded to four bytes); the packet is the
// value of the payload TLV.
link_layer after_nflog(byte_span frame) {
    constexpr std::uint16_t payload_type = 9;
    const auto family = read_u8(frame, 0);
    std::size_t offset = 4;
    if (!family || frame.size() < offset) {
        return cut_short(link_class_nflog, frame);
    }
    for (;;) {
        const auto length = read_host16(frame, offset);
        const auto type = read_host16(frame, offset + 2);
        // A TLV shorter than its own header would never end the walk.
        if (!length || !type || *length < 4) {
            return cut_short(link_class_nflog, frame);
        }
        if (*type == payload_type) {
            return classified(link_class_nflog, network_class_of(nflog_families, *family, 0),
                              offset + 4);
        }
        offset += (std::size_t{*length} + 3) & ~std::size_t{3};
    }
}

}  // namespace

link_layer look_through_link(int datalink, byte_span frame) {
    switch (datalink) {
    case DLT_NULL: return after_loopback(read_host32(frame, 0), frame);
    case DLT_LOOP: return after_loopback(read_big_endian32(frame, 0), frame);
    case DLT_EN10MB: {
        const auto header = read_bytes<14>(frame, 0);
        if (!header) {
            return cut_short(link_class_ethernet, frame);
        }
        std::uint16_t type = big_endian16(header->subspan<12, 2>());
        return after_ether_type(link_class_ethernet, frame, type, 14);
    }
    case DLT_LINUX_SLL: {
        // Packet type, address type and length, address, protocol type.
        const auto protocol = read_big_endian16(frame, 14);
        if (!protocol) {
            return cut_short(link_class_linux_cooked, frame);
        }
        std::uint16_t type = *protocol;
        return after_ether_type(link_class_linux_cooked, frame, type, 16);
    }
    case DLT_LINUX_SLL2: {
        // Protocol type first, then the interface, the address and the rest.
        const auto header = read_bytes<20>(frame, 0);
        if (!header) {
            return cut_short(link_class_linux_cooked, frame);
        }
        std::uint16_t type = big_endian16(header->subspan<0, 2>());
        return after_ether_type(link_class_linux_cooked, frame, type, 20);
    }
    case DLT_PPP:
    case DLT_PPP_SERIAL: return after_ppp(frame, 0);
    case DLT_RAW: {
        const auto first = read_u8(frame, 0);
        if (!first) {
            return cut_short(link_class_raw_ip, frame);
        }
        return classified(link_class_raw_ip, network_class_of(ip_versions, *first >> 4, 0), 0);
    }
    case DLT_IPV4: return classified(link_class_raw_ip, network_class_ipv4, 0);
    case DLT_IPV6: return classified(link_class_raw_ip, network_class_ipv6, 0);
    case DLT_C_HDLC: {
        const auto type = read_big_endian16(frame, 2);
        if (!type) {
            return cut_short(link_class_cisco_hdlc, frame);
        }
        return classified(link_class_cisco_hdlc, network_class_of(cisco_hdlc_protocols, *type, 0),
                          4);
    }
    case DLT_NFLOG: return after_nflog(frame);
    default: return {link_class_unknown, 0};
    }
}

const char* look_through_only_link(int datalink) {
    switch (datalink) {
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2: return "Linux cooked";
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6: return "raw IP";
    case DLT_LOOP: return "OpenBSD loopback";
    case DLT_PPP_SERIAL: return "PPP serial";
    case DLT_C_HDLC: return "Cisco HDLC";
    case DLT_NFLOG: return "NFLOG";
    default: return nullptr;
    }
}

}  // namespace tallywire
