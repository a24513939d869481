// Frames that land in a catch-all row only because an option is off are
// pointed out after the report, one line each, on a terminal: the option
// that counts them, and how many of all the frames they are.

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"
#include "support/terminal.h"

namespace {

const twgen::mac_address here = {2, 0, 0, 0, 0, 1};
const twgen::mac_address there = {2, 0, 0, 0, 0, 2};

// 3 IPv4 datagrams, 2 VLAN-tagged ones, 1 PPPoE session frame and 4 IPv6
// datagrams on Ethernet.
std::vector<twgen::frame> ethernet_mix() {
    const std::uint32_t a = twgen::ipv4_address("192.0.2.1");
    const std::uint32_t b = twgen::ipv4_address("192.0.2.2");
    const twgen::bytes datagram = twgen::ipv4(a, b, twgen::ip_udp, twgen::udp(1000, 53, 20));
    const twgen::bytes datagram6 =
        twgen::ipv6(twgen::ipv6_address{0x20, 0x01, 0x0d, 0xb8, 15, 1},
                    twgen::ipv6_address{0x20, 0x01, 0x0d, 0xb8, 15, 2}, twgen::ip_udp,
                    twgen::udp(1000, 53, 20));
    std::vector<twgen::frame> frames;
    for (int i = 0; i < 3; ++i) {
        frames.push_back({twgen::ethernet(there, here, twgen::ethertype_ipv4, datagram)});
    }
    for (int i = 0; i < 2; ++i) {
        frames.push_back(
            {twgen::ethernet_vlan(there, here, 7, twgen::ethertype_ipv4, datagram)});
    }
    frames.push_back({twgen::ethernet(there, here, 0x8864, twgen::filler(40))});
    for (int i = 0; i < 4; ++i) {
        frames.push_back({twgen::ethernet(there, here, twgen::ethertype_ipv6, datagram6)});
    }
    return frames;
}

struct hint_case {
    const char* name;
    int datalink;
    std::vector<std::string> options;
    std::vector<std::string> hints;  // the lines after the report, in order
};

void PrintTo(const hint_case& c, std::ostream* out) { *out << c.name; }

class OptionHints : public ::testing::TestWithParam<hint_case> {};

TEST_P(OptionHints, AfterTheReportOnATerminal) {
    const std::string why = twtest::terminal_unavailable();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const hint_case& c = GetParam();
    twtest::temp_dir dir;
    const std::string path = dir.file("capture.pcap");
    std::vector<twgen::frame> frames = ethernet_mix();
    if (c.datalink == DLT_LINUX_SLL) {
        // The same packets behind a Linux cooked header: 14 bytes, then
        // the Ethernet header's type.
        for (twgen::frame& frame : frames) {
            twgen::bytes cooked = twgen::filler(12);
            cooked.insert(cooked.end(), frame.bytes.begin() + 10, frame.bytes.end());
            frame.bytes = cooked;
        }
    }
    twgen::write_pcap(path, c.datalink, 65535, frames);
    std::string command = twtest::shell_quoted(twtest::tallywire_path());
    for (const std::string& option : c.options) {
        command += " " + twtest::shell_quoted(option);
    }
    command += " -r " + twtest::shell_quoted(path) + " >/dev/null";
    const twtest::run_result run = twtest::run_under_terminal(command);
    EXPECT_EQ(run.status, 0) << run.out;
    std::string want;
    for (const std::string& hint : c.hints) {
        want += "tallywire: " + hint + "\r\n";
    }
    EXPECT_EQ(run.out, want);

    // Not on a terminal: standard error as it always was.
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-r", path});
    EXPECT_EQ(twtest::run_tallywire(args).err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Captures, OptionHints,
    ::testing::Values(
        hint_case{"TagsSessionsAndIpv6", DLT_EN10MB, {"-n", "-S", "p"},
                  {"2 of 10 frames are VLAN-tagged; --look-through classifies them",
                   "1 of 10 frames are in PPPoE sessions; --look-through classifies them",
                   "4 of 10 frames are IPv6; --ipv6 counts them in Port, Host and Network"}},
        hint_case{"Ipv6OnlyWherePortsHostsOrNetworksAreCounted", DLT_EN10MB, {"-n", "-S", "li"},
                  {"2 of 10 frames are VLAN-tagged; --look-through classifies them",
                   "1 of 10 frames are in PPPoE sessions; --look-through classifies them"}},
        hint_case{"EachOptionSilencesItsOwn", DLT_EN10MB,
                  {"-n", "-S", "a", "--look-through", "--ipv6"}, {}},
        hint_case{"LookThroughLeavesIpv6", DLT_EN10MB, {"-n", "-S", "h", "--look-through"},
                  {"4 of 10 frames are IPv6; --ipv6 counts them in Port, Host and Network"}},
        hint_case{"CookedLink", DLT_LINUX_SLL, {"-n", "-S", "a"},
                  {"10 of 10 frames are on a Linux cooked link; --look-through classifies "
                   "them"}},
        hint_case{"CookedLinkLookedThrough", DLT_LINUX_SLL,
                  {"-n", "-S", "a", "--look-through"},
                  {"4 of 10 frames are IPv6; --ipv6 counts them in Port, Host and Network"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
