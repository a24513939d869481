// Cisco HDLC and Linux NFLOG captures under --look-through: IPv4 and IPv6
// packets are classified and counted in IP and Port like any IP frame,
// other protocols and headers cut short land in "(other)", and without
// --look-through the frames stay unclassified. Every frame is 100 bytes on
// the wire, so the expected rows are counts of frames.

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"

namespace {

constexpr std::uint32_t wire = 100;

twgen::bytes ipv4_datagram() {
    return twgen::ipv4(twgen::ipv4_address("192.0.2.1"), twgen::ipv4_address("192.0.2.2"),
                       twgen::ip_udp, twgen::udp(4000, 53, 8));
}

twgen::bytes ipv6_datagram() {
    return twgen::ipv6(twgen::ipv6_address{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                       twgen::ipv6_address{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2},
                       twgen::ip_udp, twgen::udp(4000, 53, 8));
}

struct link_case {
    const char* name;
    int datalink;
    std::vector<twgen::bytes> frames;
    std::string link_rows;  // the Link block under --look-through
    std::string port_rows;
};

void PrintTo(const link_case& c, std::ostream* out) { *out << c.name; }

class LookThroughLinks : public ::testing::TestWithParam<link_case> {};

TEST_P(LookThroughLinks, ClassifiedAndCountedAsIp) {
    const link_case& c = GetParam();
    twtest::temp_dir dir;
    const std::string path = dir.file("capture.pcap");
    std::vector<twgen::frame> frames;
    for (const twgen::bytes& bytes : c.frames) {
        frames.push_back({bytes, wire});
    }
    twgen::write_pcap(path, c.datalink, 65535, frames);

    const twtest::run_result run =
        twtest::run_tallywire({"-n", "-S", "lp", "--look-through", "--ipv6", "-r", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string total = std::to_string(frames.size() * wire);
    EXPECT_EQ(run.out, "Total Statistics:\n\tTotal                    " +
                           std::to_string(frames.size()) +
                           std::string(10 - std::to_string(frames.size()).size(), ' ') + total +
                           std::string(10 - total.size(), ' ') + "100.0000 %\n" +
                           "Link Statistics:\n" + c.link_rows + "Port Statistics:\n" +
                           c.port_rows);

    // Without --look-through the link type is one tallywire does not read.
    const twtest::run_result plain = twtest::run_tallywire({"-n", "-S", "l", "-r", path});
    EXPECT_NE(plain.out.find("\tUNKNWON (non-IP):        " + std::to_string(frames.size())),
              std::string::npos)
        << plain.out;
}

// A header cut anywhere before the packet: every prefix of the frame's
// link header, each its own frame.
std::vector<twgen::bytes> prefixes(const twgen::bytes& frame, std::size_t header) {
    std::vector<twgen::bytes> cut;
    for (std::size_t length = 0; length < header; ++length) {
        cut.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
    }
    return cut;
}

std::vector<twgen::bytes> with(std::vector<twgen::bytes> frames,
                               const std::vector<twgen::bytes>& more) {
    frames.insert(frames.end(), more.begin(), more.end());
    return frames;
}

INSTANTIATE_TEST_SUITE_P(
    Links, LookThroughLinks,
    ::testing::Values(
        link_case{"CiscoHdlc", DLT_C_HDLC,
                  {twgen::cisco_hdlc(0x0800, ipv4_datagram()), twgen::cisco_hdlc(0x0800, ipv4_datagram()),
                   twgen::cisco_hdlc(0x86dd, ipv6_datagram()), twgen::cisco_hdlc(0x8035, twgen::filler(30))},
                  "\tCisco HDLC (IP):         2         200       50.0000 %\n"
                  "\tCisco HDLC (other):      1         100       25.0000 %\n"
                  "\tCisco HDLC (IPv6):       1         100       25.0000 %\n",
                  "\t53                       3         300       75.0000 %\n"
                  "\t4000                     3         300       75.0000 %\n"},
        link_case{"CiscoHdlcCut", DLT_C_HDLC,
                  with({twgen::cisco_hdlc(0x0800, ipv4_datagram())}, prefixes(twgen::cisco_hdlc(0x0800, {}), 4)),
                  "\tCisco HDLC (other):      4         400       80.0000 %\n"
                  "\tCisco HDLC (IP):         1         100       20.0000 %\n",
                  "\t53                       1         100       20.0000 %\n"
                  "\t4000                     1         100       20.0000 %\n"},
        link_case{"Nflog", DLT_NFLOG,
                  {twgen::nflog(2, ipv4_datagram()), twgen::nflog(10, ipv6_datagram()),
                   twgen::nflog(10, ipv6_datagram()), twgen::nflog(7, twgen::filler(20))},
                  "\tNFLOG (IPv6):            2         200       50.0000 %\n"
                  "\tNFLOG (other):           1         100       25.0000 %\n"
                  "\tNFLOG (IP):              1         100       25.0000 %\n",
                  "\t53                       3         300       75.0000 %\n"
                  "\t4000                     3         300       75.0000 %\n"},
        link_case{"NflogCut", DLT_NFLOG,
                  with({twgen::nflog(2, ipv4_datagram())}, prefixes(twgen::nflog(2, {}), 24)),
                  "\tNFLOG (other):           24        2400      96.0000 %\n"
                  "\tNFLOG (IP):              1         100       4.0000 %\n",
                  "\t53                       1         100       4.0000 %\n"
                  "\t4000                     1         100       4.0000 %\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
