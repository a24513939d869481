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
// The IP fields describe the network header right behind the link header,
// and only when the link word names IPv4 or IPv6: the packet inside a VLAN
// tag is not described. Ports are recorded for IPv4 only, and not for
// non-first fragments, which carry no transport header. The fields tell what
// the frame holds on the wire; captured_length tells how much of it was kept.
// Kinds: ipv4-tcp, ipv4-udp, ipv4-icmp, ipv4-options, ipv4-fragment,
// ipv6-tcp, ipv6-udp, arp, revarp, ipx, appletalk, aarp, vlan, ieee8023,
// ppp-ipcp, ppp-ipv6cp, ppp-ccp, ppp-lcp, ppp-pap, ppp-chap, ppp-other,
// null-other.
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
};

struct mix_options {
    std::uint64_t frames = 1000;
    int datalink = 1;                 // DLT_EN10MB; DLT_NULL (0) and DLT_PPP (9) too
    std::uint32_t snap_length = 65535;
    std::uint32_t seed = 1;
    std::uint32_t hosts = 256;        // distinct IPv4 addresses to draw from
    std::uint32_t ports = 64;         // distinct ports to draw from
    double skew = 1.0;                // Zipf exponent of host and port popularity; 0: uniform
    std::uint32_t min_length = 60;    // wire lengths drawn in [min_length, max_length]
    std::uint32_t max_length = 1514;
    mix_weights weights;
};

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
