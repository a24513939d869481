#pragma once

// Headers that stack in front of a network packet: Linux cooked headers,
// VLAN tags, PPPoE, MPLS, PPP in each of its framings, BSD loopback family
// words of either byte order, and IPv6 extension headers. Each returns the
// header alone; a frame is the headers in order followed by the packet.

#include <cstdint>

#include "frame_builder.h"

namespace twgen {

inline constexpr std::uint16_t ethertype_qinq = 0x88a8;
inline constexpr std::uint16_t ethertype_qinq_old = 0x9100;
inline constexpr std::uint16_t ethertype_pppoe_session = 0x8864;
inline constexpr std::uint16_t ethertype_mpls = 0x8847;
inline constexpr std::uint16_t ethertype_mpls_multicast = 0x8848;
inline constexpr std::uint16_t ethertype_8022 = 0x0004;  // Linux cooked: 802.2 LLC follows

inline constexpr std::uint16_t ppp_ipv4 = 0x0021;
inline constexpr std::uint16_t ppp_ipv6 = 0x0057;
inline constexpr std::uint16_t ppp_mpls = 0x0281;
inline constexpr std::uint16_t ppp_mpls_multicast = 0x0283;
inline constexpr std::uint16_t ppp_lcp = 0xc021;

inline constexpr std::uint8_t ip6_hop_by_hop = 0;
inline constexpr std::uint8_t ip6_routing = 43;
inline constexpr std::uint8_t ip6_fragment = 44;
inline constexpr std::uint8_t ip6_authentication = 51;
inline constexpr std::uint8_t ip6_destination = 60;
inline constexpr std::uint8_t ip6_icmp = 58;

// DLT_LINUX_SLL: packet type, ARPHRD_ETHER, the sender's address, protocol.
bytes linux_cooked(std::uint16_t protocol, const mac_address& sender, bool outgoing);
// DLT_LINUX_SLL2: protocol, reserved, interface index, ARPHRD_ETHER, packet
// type, the sender's address.
bytes linux_cooked2(std::uint16_t protocol, const mac_address& sender, bool outgoing,
                    std::uint32_t interface_index);
// Ethernet without the type: the two addresses.
bytes mac_pair(const mac_address& dst, const mac_address& src);
// A two-byte type field, for the type that opens a stack of tags.
bytes type_field(std::uint16_t type);
// The 4 bytes behind a tag's type: priority and VLAN ID, then the next type.
bytes vlan_tag(std::uint16_t tag_control, std::uint16_t next_type);
// PPPoE session header (version 1, type 1, code 0) and the PPP protocol;
// ppp_length counts the protocol and what follows it.
bytes pppoe_session(std::uint16_t session, std::uint16_t protocol, std::size_t ppp_length);
// One label stack entry.
bytes mpls_entry(std::uint32_t entry);
std::uint32_t mpls_entry_value(std::uint32_t label, bool bottom, std::uint8_t ttl);

// PPP as DLT_PPP allows it: FF 03 or not, the protocol in two bytes or,
// compressed, in one (only for protocols below 0x100).
bytes ppp_header(std::uint16_t protocol, bool address_control, bool compressed);
// A BSD loopback family word, in this host's byte order or the other one
// (null link), or in network byte order or the other one (DLT_LOOP).
bytes family_word(std::uint32_t family, bool network_order, bool swapped);

// An IPv6 extension header of `size` bytes: Hop-by-Hop and Destination
// Options padded with PadN, a Routing header of an experimental type with
// no segments left, an Authentication header with an empty ICV, or a
// Fragment header (size 8) with its offset in 8-byte units.
bytes ipv6_extension(std::uint8_t type, std::uint8_t next_header, std::size_t size,
                     std::uint16_t fragment_offset = 0, bool more_fragments = false);

}  // namespace twgen
