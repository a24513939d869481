#pragma once

// What the link layers tell about the packets they carry: for each link
// class, the wire values of its header (an EtherType, a PPP protocol number,
// a loopback address family) with the network class each one gives and the
// name its label shows. The decoder classifies frames by these tables and
// the report labels the classes by them, so a new wire value is one line
// here.

#include <cstdint>
#include <span>
#include <string_view>

namespace tallywire {

// Link classes (low byte of a link_code).
inline constexpr std::uint32_t link_class_unknown = 0;
inline constexpr std::uint32_t link_class_null = 1;
inline constexpr std::uint32_t link_class_ethernet = 2;
inline constexpr std::uint32_t link_class_ppp = 4;
inline constexpr std::uint32_t link_class_linux_cooked = 5;
inline constexpr std::uint32_t link_class_raw_ip = 6;
inline constexpr std::uint32_t link_class_cisco_hdlc = 7;
inline constexpr std::uint32_t link_class_nflog = 8;

// Network classes shared by every link class (high byte of a link_code).
inline constexpr std::uint32_t network_class_ipv4 = 1;
inline constexpr std::uint32_t network_class_ipv6 = 2;

struct link_protocol {
    std::uint32_t wire_value;
    std::uint8_t network_class;
    std::string_view name;  // between the parentheses of the label
};

inline constexpr link_protocol ethernet_protocols[] = {
    {0x0800, network_class_ipv4, "IP"},
    {0x86dd, network_class_ipv6, "IPv6"},
    {0x0806, 3, "arp"},
    {0x8035, 4, "revarp"},
    {0x8137, 5, "IPX"},
    {0x809b, 6, "AppleTalk"},
    {0x80f3, 7, "AppleTalk ARP"},
};

inline constexpr link_protocol ppp_protocols[] = {
    {0x0021, network_class_ipv4, "IP"},
    {0x0057, network_class_ipv6, "IPv6"},
    {0x8021, 3, "IPCP"},
    {0x8057, 4, "IPCP6"},
    {0x80fd, 5, "CCP"},
    {0xc021, 6, "LCP"},
    {0xc023, 7, "PAP"},
    {0xc223, 8, "CHAP"},
};

// The family word of the BSD loopback header. 28 is IPv6 in FreeBSD's
// numbering, compared as a plain number since AF_INET6 differs by system.
inline constexpr link_protocol null_link_families[] = {
    {2, network_class_ipv4, "IP"},
    {28, network_class_ipv6, "IPv6"},
};

// What --look-through also reads. The BSDs and macOS number IPv6 24, 28
// or 30 in the loopback header.
inline constexpr link_protocol loopback_families[] = {
    {2, network_class_ipv4, "IP"},
    {24, network_class_ipv6, "IPv6"},
    {28, network_class_ipv6, "IPv6"},
    {30, network_class_ipv6, "IPv6"},
};

// A raw IP capture is told by the version nibble of its first byte.
inline constexpr link_protocol ip_versions[] = {
    {4, network_class_ipv4, "IP"},
    {6, network_class_ipv6, "IPv6"},
};

// Cisco HDLC (--look-through): address and control bytes, then an
// EtherType.
inline constexpr link_protocol cisco_hdlc_protocols[] = {
    {0x0800, network_class_ipv4, "IP"},
    {0x86dd, network_class_ipv6, "IPv6"},
};

// Linux NFLOG (--look-through): the address family of the packet in the
// payload TLV, in Linux's numbering.
inline constexpr link_protocol nflog_families[] = {
    {2, network_class_ipv4, "IP"},
    {10, network_class_ipv6, "IPv6"},
};

// Headers that --look-through skips to reach the packet they carry.
inline constexpr std::uint16_t vlan_tag_types[] = {0x8100, 0x88a8, 0x9100};
inline constexpr std::uint16_t pppoe_session_type = 0x8864;
inline constexpr std::uint16_t mpls_ether_types[] = {0x8847, 0x8848};
inline constexpr std::uint16_t mpls_ppp_protocols[] = {0x0281, 0x0283};

struct link_class_entry {
    std::uint32_t link_class;
    std::string_view name;  // before the parentheses of the label
    std::span<const link_protocol> protocols;
    // What a wire value outside the table gives.
    std::uint8_t other_class;
    std::string_view other_name;
};

// The misspelt "UNKNWON" is what scripts that read these reports match on.
// An unlisted PPP protocol is network class 255, not 0.
inline constexpr link_class_entry link_classes[] = {
    {link_class_unknown, "UNKNWON", {}, 0, "non-IP"},
    {link_class_null, "No Link", null_link_families, 0, "non-IP"},
    {link_class_ethernet, "Ethernet", ethernet_protocols, 0, "other"},
    {link_class_ppp, "PPP", ppp_protocols, 255, "other"},
    {link_class_linux_cooked, "Linux cooked", ethernet_protocols, 0, "other"},
    {link_class_raw_ip, "Raw IP", ip_versions, 0, "other"},
    {link_class_cisco_hdlc, "Cisco HDLC", cisco_hdlc_protocols, 0, "other"},
    {link_class_nflog, "NFLOG", nflog_families, 0, "other"},
};

// The network class that a wire value gives in a table, or other_class.
constexpr std::uint8_t network_class_of(std::span<const link_protocol> protocols,
                                        std::uint32_t wire_value, std::uint8_t other_class) {
    for (const link_protocol& protocol : protocols) {
        if (protocol.wire_value == wire_value) {
            return protocol.network_class;
        }
    }
    return other_class;
}

// The network class that a wire value of this link class gives.
constexpr std::uint8_t network_class_of(const link_class_entry& link, std::uint32_t wire_value) {
    return network_class_of(link.protocols, wire_value, link.other_class);
}

template <std::size_t count>
constexpr bool is_one_of(std::uint16_t value, const std::uint16_t (&values)[count]) {
    for (const std::uint16_t listed : values) {
        if (listed == value) {
            return true;
        }
    }
    return false;
}

// The entry of a link class; the unknown link's for a class not listed.
constexpr const link_class_entry& link_class_entry_of(std::uint32_t link_class) {
    for (const link_class_entry& link : link_classes) {
        if (link.link_class == link_class) {
            return link;
        }
    }
    return link_classes[0];
}

}  // namespace tallywire
