#pragma once

// Builders for the frames that the capture generator writes. Every builder
// returns the bytes of one layer with its payload appended, so frames are
// built inside out: ethernet(..., ipv4(..., udp(53, 53, 20))).
// Addresses are given as host-order numbers (10.0.0.1 is 0x0a000001) and are
// written in network byte order.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace twgen {

using bytes = std::vector<std::uint8_t>;
using mac_address = std::array<std::uint8_t, 6>;
using ipv6_address = std::array<std::uint8_t, 16>;

inline constexpr std::uint16_t ethertype_ipv4 = 0x0800;
inline constexpr std::uint16_t ethertype_ipv6 = 0x86dd;
inline constexpr std::uint16_t ethertype_arp = 0x0806;
inline constexpr std::uint16_t ethertype_revarp = 0x8035;
inline constexpr std::uint16_t ethertype_ipx = 0x8137;
inline constexpr std::uint16_t ethertype_appletalk = 0x809b;
inline constexpr std::uint16_t ethertype_aarp = 0x80f3;
inline constexpr std::uint16_t ethertype_vlan = 0x8100;

inline constexpr std::uint8_t ip_icmp = 1;
inline constexpr std::uint8_t ip_tcp = 6;
inline constexpr std::uint8_t ip_udp = 17;

// Appends a number in network byte order.
void put16(bytes& out, std::uint16_t value);
void put32(bytes& out, std::uint32_t value);

// Writes a 4-byte IPv4 address in network byte order.
std::array<std::uint8_t, 4> ipv4_bytes(std::uint32_t address);
// Parses dotted text such as "10.0.0.1" into a host-order number.
std::uint32_t ipv4_address(const char* dotted);

bytes ethernet(const mac_address& dst, const mac_address& src, std::uint16_t ether_type,
               std::span<const std::uint8_t> payload);
// 802.1Q tag: outer type 0x8100, then the tag, then the inner type.
bytes ethernet_vlan(const mac_address& dst, const mac_address& src, std::uint16_t vlan_id,
                    std::uint16_t inner_type, std::span<const std::uint8_t> payload);
// 802.3 frame: a length field in place of the type, then LLC.
bytes ethernet_8023(const mac_address& dst, const mac_address& src,
                    std::span<const std::uint8_t> payload);

// BSD loopback header: the family word in host byte order.
bytes null_link(std::uint32_t family, std::span<const std::uint8_t> payload);
// PPP header: address 0xff, control 0x03, then the protocol number.
bytes ppp(std::uint16_t protocol, std::span<const std::uint8_t> payload);
// Cisco HDLC header: address 0x0f (unicast), control 0, then an EtherType.
bytes cisco_hdlc(std::uint16_t ether_type, std::span<const std::uint8_t> payload);
// Linux NFLOG: the family, version 0, resource id 1, then TLVs in this
// host's byte order: a hardware-protocol TLV, a 3-byte prefix TLV (padded
// to 4), and the payload TLV holding the packet. The packet begins 24
// bytes in.
bytes nflog(std::uint8_t family, std::span<const std::uint8_t> payload);

struct ipv4_options {
    std::uint8_t header_words = 5;        // IHL; options are filled with NOPs
    std::uint16_t fragment_offset = 0;    // in 8-byte units
    bool more_fragments = false;
    std::uint8_t ttl = 64;
};
bytes ipv4(std::uint32_t src, std::uint32_t dst, std::uint8_t protocol,
           std::span<const std::uint8_t> payload, const ipv4_options& options = {});
bytes ipv6(const ipv6_address& src, const ipv6_address& dst, std::uint8_t next_header,
           std::span<const std::uint8_t> payload);

// Transport headers followed by payload_length zero bytes.
bytes tcp(std::uint16_t src_port, std::uint16_t dst_port, std::size_t payload_length = 0);
bytes udp(std::uint16_t src_port, std::uint16_t dst_port, std::size_t payload_length = 0);
bytes icmp_echo(std::size_t payload_length = 0);

// ARP or reverse ARP request over Ethernet and IPv4 (28 bytes).
bytes arp(std::uint16_t operation, std::uint32_t sender, std::uint32_t target);

// The other network layers an Ethernet segment carries, each a plausible
// header with payload_length zero bytes behind it.
bytes ipx(std::uint32_t src_network, std::uint32_t dst_network, std::size_t payload_length = 0);
bytes appletalk_ddp(std::uint16_t src_network, std::uint16_t dst_network,
                    std::size_t payload_length = 0);
// AppleTalk ARP probe or request over Ethernet (28 bytes).
bytes aarp(std::uint16_t operation, std::uint32_t sender, std::uint32_t target);
// A PPP control packet (LCP, IPCP, PAP, ...): code, identifier, length.
bytes ppp_control(std::uint8_t code, std::uint8_t identifier, std::size_t payload_length = 0);

// Zero bytes, for padding or opaque payloads.
bytes filler(std::size_t length, std::uint8_t value = 0);

}  // namespace twgen
