#pragma once

// A small Ethernet capture whose every report line can be worked out by hand.

#include <cstdint>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/frame_builder.h"

namespace report_test {

inline const twgen::mac_address mac_a{0x02, 0, 0, 0, 0, 0x0a};
inline const twgen::mac_address mac_b{0x02, 0, 0, 0, 0, 0x0b};

inline twgen::frame ipv4_frame(const char* src, const char* dst, std::uint8_t protocol,
                        const twgen::bytes& transport, std::uint32_t wire_length) {
    const auto packet =
        twgen::ipv4(twgen::ipv4_address(src), twgen::ipv4_address(dst), protocol, transport);
    return {twgen::ethernet(mac_b, mac_a, twgen::ethertype_ipv4, packet), wire_length};
}

// Six frames whose byte counts are chosen so that most rows differ:
//   A  TCP 10.0.0.1:40000 -> 10.0.0.2:80      1000 bytes
//   B  TCP 10.0.0.2:80    -> 10.0.0.1:40000    400 bytes
//   C  UDP 10.0.0.1:53    -> 192.168.1.7:53    100 bytes
//   D  ICMP 172.16.5.4    -> 10.0.0.1           64 bytes
//   E  ARP                                      60 bytes
//   F  IPv6 UDP                                200 bytes
// 1824 bytes in all.
inline std::vector<twgen::frame> office_frames() {
    twgen::ipv6_address six_a{0x20, 0x01, 0x0d, 0xb8};
    twgen::ipv6_address six_b{0x20, 0x01, 0x0d, 0xb8};
    six_a[15] = 1;
    six_b[15] = 2;
    return {
        ipv4_frame("10.0.0.1", "10.0.0.2", twgen::ip_tcp, twgen::tcp(40000, 80, 10), 1000),
        ipv4_frame("10.0.0.2", "10.0.0.1", twgen::ip_tcp, twgen::tcp(80, 40000, 10), 400),
        ipv4_frame("10.0.0.1", "192.168.1.7", twgen::ip_udp, twgen::udp(53, 53, 10), 100),
        ipv4_frame("172.16.5.4", "10.0.0.1", twgen::ip_icmp, twgen::icmp_echo(4), 64),
        {twgen::ethernet(mac_b, mac_a, twgen::ethertype_arp,
                         twgen::arp(1, twgen::ipv4_address("10.0.0.1"),
                                    twgen::ipv4_address("10.0.0.2"))),
         60},
        {twgen::ethernet(mac_b, mac_a, twgen::ethertype_ipv6,
                         twgen::ipv6(six_a, six_b, twgen::ip_udp, twgen::udp(5353, 5353, 20))),
         200},
    };
}

inline constexpr std::uint64_t office_total = 1824;

}  // namespace report_test
