#pragma once

// Frames whose network packet sits behind more than one header, and the
// link headers of every link type the mix writes: the parts of the mix
// that go beyond untagged Ethernet, PPP with FF 03 and the null link.

#include <pcap/dlt.h>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "frame_builder.h"
#include "random_source.h"
#include "traffic_mix.h"

namespace twgen {

inline constexpr int dlt_null = 0;
inline constexpr int dlt_en10mb = 1;
inline constexpr int dlt_ppp = 9;
inline constexpr int dlt_raw = DLT_RAW;  // 12 on Linux; pcap_dump writes LINKTYPE_RAW, 101
inline constexpr int dlt_ppp_serial = 50;
inline constexpr int dlt_loop = 108;
inline constexpr int dlt_linux_sll = 113;
inline constexpr int dlt_ipv4 = 228;
inline constexpr int dlt_ipv6 = 229;
inline constexpr int dlt_linux_sll2 = 276;

bool is_known_link(int datalink);
bool is_ppp_link(int datalink);            // DLT_PPP, DLT_PPP_SERIAL
bool is_family_link(int datalink);         // DLT_NULL, DLT_LOOP
bool is_ethernet_like(int datalink);       // Ethernet and Linux cooked: typed by EtherTypes
bool is_raw_link(int datalink);            // DLT_RAW, DLT_IPV4, DLT_IPV6

// How one frame's link header is written.
struct link_framing {
    bool address_control = true;   // PPP: FF 03 in front
    bool compressed = false;       // PPP: one-byte protocol
    bool swapped = false;          // null, loop: family in the other byte order
    std::uint32_t ipv6_family = 28;

    bool operator==(const link_framing&) const = default;
};

// The framing of every frame of the link when nothing varies.
link_framing plain_framing(int datalink);
// A framing for a frame that carries the PPP protocol (PPP links); draws
// only when vary.
link_framing draw_framing(int datalink, bool vary, std::uint16_t ppp_protocol,
                          random_source& random);

// The framing with a two-byte protocol instead of one where a reader of
// FF 03 frames would find a word naming IP in bytes 2-3 of the frame.
link_framing settle_framing(int datalink, link_framing framing,
                            std::span<const std::uint8_t> packet);

std::uint32_t ipv4_link_word(int datalink);
std::uint32_t ipv6_link_word(int datalink, const link_framing& framing);

layer_fact link_layer(int datalink, const link_framing& framing, std::uint32_t word);
bytes link_header(int datalink, const link_framing& framing, std::uint32_t word,
                  const mac_address& dst, const mac_address& src);

// The IPv6 chain that a run of zero bytes makes: Hop-by-Hop headers of 8
// bytes each, as many as begin in `length` bytes after the fixed header.
std::vector<extension_fact> zero_chain(std::size_t length);

// The first fields of the fact as a reader of plain frames sees them, for a
// frame that is not what such a reader expects (other framing, other link,
// or a packet behind tags): the link word where it looks, and no IP fields
// unless the link header it knows is followed by IPv6 (ipv6-ext).
void set_plain_reading(frame_fact& fact, std::span<const std::uint8_t> frame);

// What every frame draws its hosts and ports from.
class mix_draws {
public:
    virtual random_source& numbers() = 0;
    virtual std::pair<std::uint32_t, std::uint32_t> ipv4_pair() = 0;
    virtual std::pair<ipv6_address, ipv6_address> ipv6_pair() = 0;
    virtual std::uint16_t port() = 0;

protected:
    ~mix_draws() = default;
};

enum class layered_kind { ipv6_ext, dot1q, qinq, pppoe, mpls };

// Makes the frames of the layered kinds for one mix.
class layered_maker {
public:
    layered_maker(const mix_options& options, mix_draws& draws);

    // A frame of `wire` bytes (more when its headers need more), with the
    // later fields of its fact; the earlier ones are left to the caller.
    bytes make(layered_kind kind, std::uint32_t wire, frame_fact& fact);

private:
    enum class packet_kind { ipv4_tcp, ipv4_udp, ipv4_icmp, ipv4_options, ipv4_fragment, ipv6,
                             ipv6_ext, other };
    struct built_packet;
    struct planned_layer;

    packet_kind draw_packet_kind();
    built_packet make_packet(packet_kind kind, std::size_t length);
    built_packet ipv4_packet(packet_kind kind, std::size_t length);
    built_packet ipv6_packet(bool chained, std::size_t length);
    std::vector<std::uint32_t> mpls_stack();

    const mix_options& options_;
    mix_draws& draws_;
    std::vector<std::pair<packet_kind, unsigned>> packet_weights_;
    std::uint64_t packet_weight_total_ = 0;
};

}  // namespace twgen
