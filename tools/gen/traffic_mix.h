#pragma once

// A deterministic, configurable mix of traffic, frame by frame, with a plain
// fact record of every frame it made, so that tests can compute expected
// counts without going through the code under test.

#include <cstdint>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "capture_writer.h"

namespace twgen {

// What the generator put into one frame. Fields that do not apply are 0.
//
// The first fields (datalink to captured_length) describe the frame as a
// reader that knows only untagged Ethernet, PPP with FF 03 and a two-byte
// protocol, and the null link in this host's byte order sees it. link_word
// is the word where such a reader finds it (Ethernet bytes 12-13, PPP bytes
// 2-3, the null family in host byte order; on other links the first
// layer's value). The IP fields describe the network header right behind
// that link header, and only when the word names IPv4 or IPv6 there (null:
// 2 or 28); the packet inside a VLAN tag, a PPPoE session or MPLS is not
// described, nor anything on the other link types. Ports are recorded for
// IPv4 only, and not for non-first fragments, which carry no transport
// header.
//
// The later fields describe every frame down to its network packet, through
// every link header, VLAN tag, PPPoE header and MPLS label:
// - layers: the headers in front of the network packet, in order, each with
//   the value that names what follows it and its size in bytes:
//     eth   14  EtherType (or 802.3 length) at bytes 12-13
//     sll   16  protocol type at bytes 14-15 (Linux cooked, DLT_LINUX_SLL)
//     sll2  20  protocol type at bytes 0-1 (DLT_LINUX_SLL2)
//     null, null-swapped   4  address family; -swapped: written in the
//           byte order opposite to this host's (upper 16 bits set)
//     loop, loop-swapped   4  address family in network byte order;
//           -swapped: in little-endian order
//     ppp   1-4 PPP protocol; 4: FF 03 and two bytes, 3: FF 03 and one
//           byte, 2: two bytes, 1: one byte (protocol field compression)
//     raw   0   version nibble of the packet (DLT_RAW, DLT_IPV4, DLT_IPV6)
//     tag   4   the type after the tag (the tag's own type is the value of
//           the layer before it: 0x8100, 0x88a8 or 0x9100)
//     pppoe 8   the PPP protocol after the 6-byte session header
//     mpls  4   the whole label stack entry; 0x100 is the bottom-of-stack
//           bit, set in the last entry only
//   net_offset is the sum of the sizes: where the network packet begins.
// - net_word: the value that classifies the frame: the last EtherType, PPP
//   protocol or (unswapped) family, or the version nibble where the link
//   (raw IP) or an MPLS stack leaves it to the packet.
// - net_version: 4 or 6 when an IPv4 or IPv6 header begins at net_offset
//   and net_word announces it, else 0. A null-link frame of the kind
//   null-other is all zeros behind a family word of 24 or 30, which names
//   IPv6 on some systems: it is described as the IPv6 header those zeros
//   make (addresses ::, a chain of 8-byte Hop-by-Hop headers to the end of
//   the frame, upper protocol 0).
// - net_src, net_dst: dotted IPv4 or RFC 5952 IPv6 text.
// - extensions: the IPv6 extension headers in order, each with its type
//   and its size in bytes ((len + 1) * 8, AH (len + 2) * 4, Fragment 8).
//   They begin at net_offset + 40, one after the other.
// - upper_protocol: the IPv4 protocol, or the next-header value that ends
//   the IPv6 chain (one that is not 0, 43, 44, 51 or 60, unless the chain
//   runs past the end of the frame).
// - net_fragment_offset: IPv4 fragment offset or that of the IPv6 Fragment
//   header, in 8-byte units. A non-first IPv6 fragment's Fragment header is
//   the last extension header.
// - transport_offset: where the upper-layer header begins (after the IPv4
//   header with its options, or after the IPv6 chain), counted from the
//   start of the frame; set for every IP packet, even a non-first fragment.
// - net_has_ports: a TCP or UDP header is at transport_offset (not in a
//   non-first fragment); net_src_port and net_dst_port are its ports.
// Nothing here depends on the snap length: captured_length says how much of
// the frame was kept, and with the offsets and sizes above tells which
// headers and fields were captured.
//
// Kinds: ipv4-tcp, ipv4-udp, ipv4-icmp, ipv4-options, ipv4-fragment,
// ipv6-tcp, ipv6-udp, arp, revarp, ipx, appletalk, aarp, vlan, ieee8023,
// ppp-ipcp, ppp-ipv6cp, ppp-ccp, ppp-lcp, ppp-pap, ppp-chap, ppp-other,
// null-other, loop-other, raw-other; ipv6-ext; and dot1q, qinq, pppoe and
// mpls, whose packet is any of the IP kinds (or a non-IP one) and is told
// by the later fields.
struct layer_fact {
    std::string name;         // eth, sll, sll2, null, null-swapped, loop, loop-swapped, ppp,
                              // raw, tag, pppoe, mpls
    std::uint32_t value = 0;  // see above
    std::uint32_t size = 0;   // bytes

    friend bool operator==(const layer_fact&, const layer_fact&) = default;
};

struct extension_fact {
    std::uint8_t type = 0;    // 0, 43, 44, 51 or 60
    std::uint32_t size = 0;   // bytes

    friend bool operator==(const extension_fact&, const extension_fact&) = default;
};

struct frame_fact {
    int datalink = 1;                  // DLT_ number of the capture
    std::string kind;                  // e.g. "ipv4-tcp", "ipv6-udp", "arp", "vlan", "ppp-lcp"
    std::uint32_t link_word = 0;       // Ethernet type, PPP protocol or null-link family
    int ip_version = 0;                // 0, 4 or 6
    std::uint8_t protocol = 0;         // IPv4 protocol / IPv6 next header
    std::uint32_t src = 0;             // IPv4 source, host order (10.0.0.1 = 0x0a000001)
    std::uint32_t dst = 0;             // IPv4 destination, host order
    bool has_ports = false;            // TCP or UDP header present at the IHL offset
    std::uint16_t src_port = 0;
    std::uint16_t dst_port = 0;
    std::uint8_t header_words = 5;     // IPv4 IHL
    std::uint16_t fragment_offset = 0; // IPv4, in 8-byte units
    std::uint32_t wire_length = 0;     // length on the wire
    std::uint32_t captured_length = 0; // bytes stored in the capture (after the snap length)

    std::vector<layer_fact> layers;
    std::uint32_t net_offset = 0;
    std::uint32_t net_word = 0;
    int net_version = 0;               // 0, 4 or 6
    std::string net_src;               // "10.0.0.1", "2001:db8::1"; empty when net_version is 0
    std::string net_dst;
    std::vector<extension_fact> extensions;
    std::uint8_t upper_protocol = 0;
    std::uint16_t net_fragment_offset = 0;
    std::uint32_t transport_offset = 0;
    bool net_has_ports = false;
    std::uint16_t net_src_port = 0;
    std::uint16_t net_dst_port = 0;
    // When the frame was captured: seconds since the epoch and microseconds.
    std::int64_t seconds = 0;
    std::uint32_t microseconds = 0;

    friend bool operator==(const frame_fact&, const frame_fact&) = default;
};

// Relative weights of the kinds of frame in a mix; 0 leaves a kind out.
struct mix_weights {
    unsigned ipv4_tcp = 50;
    unsigned ipv4_udp = 25;
    unsigned ipv4_icmp = 5;
    unsigned ipv4_options = 2;    // TCP behind a header with options
    unsigned ipv4_fragment = 2;   // non-first fragments
    unsigned ipv6 = 6;
    unsigned arp = 3;
    unsigned revarp = 1;
    unsigned ipx = 1;
    unsigned appletalk = 1;
    unsigned aarp = 1;
    unsigned vlan = 2;
    unsigned ieee8023 = 1;
    // PPP and null links only, where the Ethernet-only kinds above (arp to
    // ieee8023) are never made: PPP control and unlisted protocols, or
    // null-link families other than IPv4 and IPv6.
    unsigned link_other = 8;

    // Off unless asked for; "all" in tallywire-gen's -w leaves them alone.
    // Each of dot1q, qinq, pppoe and mpls carries a packet drawn by the
    // weights of the IP kinds above and ipv6_ext (arp standing for a
    // non-IP packet), or evenly among them when those are all 0.
    unsigned ipv6_ext = 0;  // IPv6 behind a chain of extension headers, fragments too
    unsigned dot1q = 0;     // one 802.1Q tag (Ethernet and Linux cooked)
    unsigned qinq = 0;      // two tags: 0x88a8, 0x9100 or 0x8100, then 0x8100
    unsigned pppoe = 0;     // PPPoE session, now and then inside a tag
    unsigned mpls = 0;      // label stack of 1 to 3 entries, after a tag or in PPPoE now and
                            // then; on PPP links, PPP protocol 0x0281 or 0x0283
};

struct mix_options {
    std::uint64_t frames = 1000;
    // DLT_EN10MB (1); DLT_NULL (0), DLT_PPP (9), DLT_PPP_SERIAL (50), DLT_LOOP
    // (108), DLT_LINUX_SLL (113), DLT_LINUX_SLL2 (276), DLT_IPV4 (228),
    // DLT_IPV6 (229) and libpcap's DLT_RAW (12 on Linux; the file holds 101).
    int datalink = 1;
    std::uint32_t snap_length = 65535;
    std::uint32_t seed = 1;
    std::uint32_t hosts = 256;        // distinct IPv4 addresses to draw from
    std::uint32_t ipv6_hosts = 0;     // distinct IPv6 addresses of ipv6-ext and the packets of
                                      // tags, PPPoE and MPLS; 0: as many as hosts
    std::uint32_t ports = 64;         // distinct ports to draw from
    double skew = 1.0;                // Zipf exponent of host and port popularity; 0: uniform
    std::uint32_t min_length = 60;    // wire lengths drawn in [min_length, max_length]
    std::uint32_t max_length = 1514;
    mix_weights weights;
    // PPP frames that carry a network packet come with and without FF 03
    // and with one-byte protocols; null and loop frames carry family words
    // of either byte order and IPv6 as 24, 28 or 30.
    bool vary_framing = false;
    // Half the frames kept to a length drawn from 1 to 128 bytes (and the
    // snap length), so that captures end inside every header; the frames
    // and facts are otherwise those of the mix without cuts.
    bool cut_frames = false;

    // Timestamps: the first frame at start_seconds, the gaps between frames
    // drawn evenly from 0 to twice the mean of a rate of frames per second.
    // Every pause_every frames the clock stands still for pause_microseconds
    // more (a quiet spell); of every burst_every frames the first
    // burst_frames come at once, with no gap. Timing never changes what the
    // frames hold.
    std::int64_t start_seconds = 1700000000;  // 2023-11-14, an arbitrary fixed start
    std::uint32_t rate = 1000;
    std::uint64_t pause_every = 0;  // 0: no pauses
    std::int64_t pause_microseconds = 0;
    std::uint64_t burst_every = 0;  // 0: no bursts
    std::uint64_t burst_frames = 0;
};

// A mix of every encapsulation the link can carry (tags, PPPoE, MPLS, IPv6
// extension chains) beside the classic kinds, with varied PPP and loopback
// framing: for tests and fuzzing seeds of the readers of all of them.
mix_options every_encapsulation_mix(int datalink, std::uint64_t frames);

// Makes the frames of a mix one at a time, so that captures of millions of
// frames never sit in memory.
class mix_generator {
public:
    explicit mix_generator(const mix_options& options);
    ~mix_generator();
    mix_generator(const mix_generator&) = delete;
    mix_generator& operator=(const mix_generator&) = delete;

    // Fills the next frame and its fact; false when the mix is complete.
    bool next(frame& out, frame_fact& fact);

private:
    struct state;
    state* state_;
};

// The whole mix in memory, for small test captures.
struct generated_capture {
    std::vector<frame> frames;
    std::vector<frame_fact> facts;
};
generated_capture generate_mix(const mix_options& options);

// The fact record: one line per frame, tab-separated, with a header line.
void write_fact(std::ostream& out, const frame_fact& fact);
void write_fact_header(std::ostream& out);
std::vector<frame_fact> read_facts(const std::string& path);

}  // namespace twgen
