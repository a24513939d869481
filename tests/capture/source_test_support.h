#pragma once

// What the source tests share: a sink that keeps a copy of every packet
// record it is handed, so that two sources can be compared frame by frame,
// and a set of Ethernet frames that touches every branch of the decoder.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "capture/frame_view.h"
#include "settings.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"

using namespace tallywire;

namespace twtest {

struct seen_frame {
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
    std::uint32_t wire_length = 0;
    std::uint32_t link_code = 0;
    std::vector<std::uint8_t> data;  // the bytes the view captured
    int ipv4 = 0;                    // what the accessors answered
    int ipv6 = 0;
    std::uint8_t transport = 0;

    bool operator==(const seen_frame&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const seen_frame& frame) {
    return out << "{ts " << frame.seconds << "." << frame.microseconds << " len "
               << frame.wire_length << " link " << frame.link_code << " captured "
               << frame.data.size() << "}";
}

// Where the first record of a snoop file begins, after the file header.
inline constexpr std::size_t first_record = 16;

// Overwrites one big-endian 32-bit field of a snoop image.
inline void put_be32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        image.at(offset + static_cast<std::size_t>(i)) =
            static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

inline void collect_frame(const frame_view& frame, void* sink_arg) {
    auto& frames = *static_cast<std::vector<seen_frame>*>(sink_arg);
    seen_frame& seen = frames.emplace_back();
    seen.seconds = frame.timestamp.seconds;
    seen.microseconds = frame.timestamp.microseconds;
    seen.wire_length = frame.wire_length;
    seen.link_code = frame.link_code;
    seen.data.assign(frame.captured.begin(), frame.captured.end());
    seen.ipv4 = is_ipv4(frame);
    seen.ipv6 = is_ipv6(frame);
    seen.transport = transport_protocol(frame).value_or(0);
}

// A run_config that reads the file at path as a capture, with filter.
inline tallywire::run_config file_config(const std::string& path,
                                         const std::string& filter = "") {
    tallywire::run_config config;
    config.source_name = path;
    config.filter_expression = filter;
    config.mode.live = false;
    return config;
}

// Frames of many kinds and sizes, among them a runt shorter than its
// Ethernet header and a jumbo frame longer than the decoder keeps, with
// distinct time stamps and wire lengths above the captured lengths.
inline std::vector<twgen::frame> mixed_ethernet_frames() {
    using namespace twgen;
    const mac_address a = {0x02, 0, 0, 0, 0, 1};
    const mac_address b = {0x02, 0, 0, 0, 0, 2};
    const std::uint32_t h1 = ipv4_address("10.0.0.1");
    const std::uint32_t h2 = ipv4_address("192.168.7.9");
    const ipv6_address v6a = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const ipv6_address v6b = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    std::vector<frame> frames;
    const auto add = [&](bytes contents, std::uint32_t extra_wire) {
        frame f;
        f.wire_length = static_cast<std::uint32_t>(contents.size()) + extra_wire;
        f.bytes = std::move(contents);
        f.seconds = 1700000000 + static_cast<std::int64_t>(frames.size());
        f.microseconds = static_cast<std::int64_t>(frames.size() * 1237 % 1000000);
        frames.push_back(std::move(f));
    };
    add(ethernet(a, b, ethertype_ipv4, ipv4(h1, h2, ip_tcp, tcp(40000, 80, 100))), 0);
    add(ethernet(b, a, ethertype_ipv4, ipv4(h2, h1, ip_udp, udp(53, 5353, 33))), 0);
    add(ethernet(a, b, ethertype_ipv4, ipv4(h1, h2, ip_icmp, icmp_echo(56))), 0);
    add(ethernet(a, b, ethertype_ipv6, ipv6(v6a, v6b, ip_udp, udp(546, 547, 7))), 0);
    add(ethernet(a, b, ethertype_arp, arp(1, h1, h2)), 0);
    add(ethernet(a, b, ethertype_revarp, arp(3, h2, h1)), 0);
    add(ethernet(a, b, ethertype_ipx, filler(30, 0xff)), 0);
    add(ethernet_vlan(a, b, 7, ethertype_ipv4, ipv4(h1, h2, ip_tcp, tcp(1, 2))), 0);
    add(ethernet_8023(a, b, filler(43, 0xaa)), 0);
    add(filler(10, 0x5a), 0);  // shorter than an Ethernet header
    add(ethernet(a, b, ethertype_ipv4, ipv4(h1, h2, ip_udp, udp(9, 9, 40000))), 0);
    add(ethernet(b, a, ethertype_ipv4, ipv4(h2, h1, ip_tcp, tcp(443, 50000, 3))), 1400);
    return frames;
}

// Makes a named pipe at fifo and feeds it the image from a thread while
// read(fifo) reads it, in pieces of the sizes next_piece gives in turn (as
// much as the pipe takes when it is empty). A reader that stops early ends
// the feeding with EPIPE, not with SIGPIPE.
template <class Reader>
auto read_through_fifo(const std::string& fifo, const std::vector<std::uint8_t>& image,
                       Reader read, const std::function<std::size_t()>& next_piece = {}) {
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const sigpipe_ignored guard;
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        for (std::size_t sent = 0; fd >= 0 && sent < image.size();) {
            const std::size_t left = image.size() - sent;
            const std::size_t piece = next_piece ? std::min(next_piece(), left) : left;
            const ssize_t n = write(fd, image.data() + sent, piece);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
            std::this_thread::yield();
        }
        close(fd);
    });
    auto run = read(fifo);
    writer.join();
    return run;
}

}  // namespace twtest
