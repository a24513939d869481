// Host names from a DNS resolver of the test's own, looked up concurrently:
// the responder (tools/dns_responder) answers after a delay with names for
// most addresses, "no such name" for some and nothing for a few, inside a
// network namespace made for the test. The expected labels come from the
// responder's own table; the reports with one lookup at a time must be the
// same, byte for byte.

#include <fcntl.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>
#include <set>
#include <string>
#include <vector>

#include "dns_responder/ptr_table.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "office_capture.h"
#include "report_check.h"
#include "support/background_run.h"
#include "support/process.h"
#include "support/resolver_namespace.h"
#include "support/terminal.h"

namespace {

using report_test::block;

// Documentation ranges only: nothing is ever sent to them, only their
// reverse names asked of the namespace's responder.
constexpr int host_count = 300;
constexpr const char* sink = "203.0.113.200";
constexpr int responder_delay_ms = 10;
// A run that takes longer has hung.
constexpr double hang_bound = 300;

std::string dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

// 192.0.2.1 to 192.0.2.254, then 198.51.100.1 onwards.
std::vector<std::uint32_t> host_addresses() {
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t last = 1; last <= 254 && addresses.size() < host_count; ++last) {
        addresses.push_back(twgen::ipv4_address("192.0.2.0") + last);
    }
    for (std::uint32_t last = 1; addresses.size() < host_count; ++last) {
        addresses.push_back(twgen::ipv4_address("198.51.100.0") + last);
    }
    return addresses;
}

// The label the table gives an address: its name cut to width, or its
// dotted text when the responder has no name for it or keeps silent.
std::string expected_name(std::uint32_t address, std::size_t width) {
    const twdns::ptr_entry entry = twdns::ptr_entry_for(address);
    return entry.reply == twdns::ptr_reply::name ? entry.name.substr(0, width) : dotted(address);
}

struct traffic {
    std::vector<twgen::frame> frames;
    std::vector<report_test::row_counts> host_rows;        // without -d
    std::vector<report_test::row_counts> split_host_rows;  // under -d
    std::uint64_t total = 0;
};

// Every host sends one datagram of its own length to the sink, and the sink
// answers the first host: every row has a byte count of its own, and under
// -d two addresses stand on both sides.
traffic host_traffic() {
    traffic made;
    const auto addresses = host_addresses();
    const std::uint32_t sink_address = twgen::ipv4_address(sink);
    const auto datagram = [&](std::uint32_t from, std::uint32_t to, std::uint32_t length) {
        made.frames.push_back(
            {twgen::ethernet(report_test::mac_b, report_test::mac_a, twgen::ethertype_ipv4,
                             twgen::ipv4(from, to, twgen::ip_udp, twgen::udp(5000, 5001, 4))),
             length});
        made.total += length;
    };
    std::uint64_t sink_in = 0;
    for (std::size_t k = 0; k < addresses.size(); ++k) {
        const auto length = static_cast<std::uint32_t>(100 + k);
        datagram(addresses[k], sink_address, length);
        sink_in += length;
    }
    const std::uint32_t answer_length = 90;
    datagram(sink_address, addresses[0], answer_length);

    for (std::size_t k = 0; k < addresses.size(); ++k) {
        const std::uint64_t sent = 100 + k;
        const std::uint64_t received = k == 0 ? answer_length : 0;
        made.host_rows.push_back({expected_name(addresses[k], 24) + " ",
                                  received > 0 ? 2u : 1u, sent + received});
        made.split_host_rows.push_back({expected_name(addresses[k], 22) + " > ", 1, sent});
        if (received > 0) {
            made.split_host_rows.push_back({expected_name(addresses[k], 22) + " < ", 1, received});
        }
    }
    made.host_rows.push_back(
        {expected_name(sink_address, 24) + " ", addresses.size() + 1, sink_in + answer_length});
    made.split_host_rows.push_back(
        {expected_name(sink_address, 22) + " < ", addresses.size(), sink_in});
    made.split_host_rows.push_back({expected_name(sink_address, 22) + " > ", 1, answer_length});
    return made;
}

class ConcurrentLookups : public ::testing::Test {
protected:
    void SetUp() override {
        if (!resolver_.unavailable().empty()) {
            GTEST_SKIP() << resolver_.unavailable();
        }
        twgen::write_pcap(capture_, DLT_EN10MB, 65535, traffic_.frames);
    }

    twtest::run_result report(std::vector<std::string> options,
                              const std::string& program = twtest::tallywire_path()) const {
        options.push_back("-r");
        options.push_back(capture_);
        twtest::run_options bounded;
        bounded.timeout_seconds = hang_bound;
        return resolver_.run(program, options, bounded);
    }

    twtest::resolver_namespace resolver_{responder_delay_ms};
    twtest::temp_dir dir_;
    std::string capture_ = dir_.file("hosts.pcap");
    traffic traffic_ = host_traffic();
};

TEST_F(ConcurrentLookups, HostLabelsComeFromTheResolversTable) {
    struct label_case {
        const char* what;
        std::vector<std::string> options;
        const std::vector<report_test::row_counts>& rows;
    };
    const std::vector<label_case> cases = {
        {"names cut to 24", {"-S", "h"}, traffic_.host_rows},
        {"names cut to 22 under -d", {"-d", "-S", "h"}, traffic_.split_host_rows},
    };
    for (const label_case& c : cases) {
        const twtest::run_result run = report(c.options);
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_TRUE(report_test::report_matches(
            run.out,
            {block("Total", {{"Total ", traffic_.frames.size(), traffic_.total}}, traffic_.total),
             block("Host", c.rows, traffic_.total)},
            -1))
            << c.what;
    }
}

// Each address is asked for once per report, even when it stands in two
// rows; one lookup at a time asks once per row, and gives the same report.
TEST_F(ConcurrentLookups, SameReportAsOneLookupAtATime) {
    for (const bool split : {false, true}) {
        std::vector<std::string> options = {"-S", "ah"};
        if (split) {
            options.push_back("-d");
        }
        resolver_.forget_queries();
        const twtest::run_result together = report(options);
        const std::vector<std::string> asked = resolver_.queries();
        const twtest::run_result one_by_one =
            report(options, twtest::one_lookup_tallywire_path());

        EXPECT_EQ(together.status, 0) << together.err;
        EXPECT_EQ(one_by_one.status, 0) << one_by_one.err;
        EXPECT_EQ(together.out, one_by_one.out) << (split ? "-d" : "without -d");
        EXPECT_EQ(together.err, one_by_one.err);
        const std::set<std::string> distinct(asked.begin(), asked.end());
        EXPECT_EQ(distinct.size(), asked.size()) << "an address was asked for twice";
        EXPECT_EQ(asked.size(), static_cast<std::size_t>(host_count) + 1);
    }
}

// IPv6 hosts join the same lookups: 2001:db8::a.b.c.d is named as a.b.c.d
// in the responder's table, each address is asked for once, and the labels
// are those of one lookup at a time.
TEST_F(ConcurrentLookups, Ipv6HostsJoinTheLookups) {
    const auto addresses = host_addresses();
    std::vector<twgen::frame> frames;
    std::vector<report_test::row_counts> rows;
    std::uint64_t total = 0;
    // The name of the address's last four bytes, or its own text.
    const auto expected_name6 = [](const twgen::ipv6_address& address) {
        const std::uint32_t low = std::uint32_t{address[12]} << 24 |
                                  std::uint32_t{address[13]} << 16 |
                                  std::uint32_t{address[14]} << 8 | address[15];
        const twdns::ptr_entry entry = twdns::ptr_entry_for(low);
        if (entry.reply == twdns::ptr_reply::name) {
            return entry.name.substr(0, 24);
        }
        char text[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, address.data(), text, sizeof text);
        return std::string(text);
    };
    twgen::ipv6_address sink6{0x20, 0x01, 0x0d, 0xb8};
    sink6[15] = 0x0a;
    for (std::size_t k = 0; k < 60; ++k) {
        twgen::ipv6_address from{0x20, 0x01, 0x0d, 0xb8};
        const auto low = twgen::ipv4_bytes(addresses[k]);
        std::copy(low.begin(), low.end(), from.end() - 4);
        const auto length = static_cast<std::uint32_t>(200 + k);
        frames.push_back({twgen::ethernet(report_test::mac_b, report_test::mac_a,
                                          twgen::ethertype_ipv6,
                                          twgen::ipv6(from, sink6, twgen::ip_udp,
                                                      twgen::udp(5000, 5001, 4))),
                          length});
        total += length;
        rows.push_back({expected_name6(from) + " ", 1, length});
    }
    rows.push_back({expected_name6(sink6) + " ", frames.size(), total});
    const std::string capture = dir_.file("hosts6.pcap");
    twgen::write_pcap(capture, DLT_EN10MB, 65535, frames);

    twtest::run_options bounded;
    bounded.timeout_seconds = hang_bound;
    resolver_.forget_queries();
    const twtest::run_result together =
        resolver_.run(twtest::tallywire_path(), {"--ipv6", "-S", "h", "-r", capture}, bounded);
    const std::vector<std::string> asked = resolver_.queries();
    const twtest::run_result one_by_one = resolver_.run(
        twtest::one_lookup_tallywire_path(), {"--ipv6", "-S", "h", "-r", capture}, bounded);
    EXPECT_EQ(together.status, 0) << together.err;
    EXPECT_EQ(together.out, one_by_one.out);
    EXPECT_TRUE(report_test::report_matches(
        together.out, {block("Total", {{"Total ", frames.size(), total}}, total),
                       block("Host", rows, total)},
        -1));
    const std::set<std::string> distinct(asked.begin(), asked.end());
    EXPECT_EQ(distinct.size(), asked.size()) << "an address was asked for twice";
    EXPECT_EQ(asked.size(), frames.size() + 1);
}

// Rows beyond -t are never looked up; -n and kinds without names ask
// nothing at all.
TEST_F(ConcurrentLookups, OnlyPrintedRowsAreLookedUp) {
    struct ask_case {
        std::vector<std::string> options;
        std::size_t asked;
    };
    const std::vector<ask_case> cases = {
        {{"-S", "h", "-t", "10"}, 10},
        {{"-S", "h", "-t", "0"}, 0},
        {{"-n", "-S", "h"}, 0},
        {{"-S", "ln"}, 0},
    };
    for (const ask_case& c : cases) {
        resolver_.forget_queries();
        const twtest::run_result run = report(c.options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(resolver_.queries().size(), c.asked) << c.options[0] << c.options[1];
    }
}


// A SIGINT while names are looked up after a live capture stops the wait:
// the report comes at once, numbers where no name came, with one line on
// standard error; a second SIGINT ends the program as a shell expects
// (status 130). SIGALRM, the capture's timer, is left alone. The capture is
// of the namespace's loopback, which carries datagrams to an address of the
// loopback about which the responder keeps silent.
TEST_F(ConcurrentLookups, InterruptDuringTheLookupsStopsTheWait) {
  const std::string silent = "192.0.2.127";
  ASSERT_EQ(twdns::reply_for(twgen::ipv4_address(silent.c_str())), twdns::ptr_reply::silence);
  const twtest::run_result added = twtest::run_program(
      twtest::ip_program(), {"-n", resolver_.name(), "addr", "add", silent + "/32", "dev", "lo"});
  ASSERT_EQ(added.status, 0) << added.err;
  for (const int interrupts : {1, 2}) {
    resolver_.forget_queries();

    std::vector<std::string> words = resolver_.exec_words();
    for (const char* word :
         {TALLYWIRE_BINARY, "-i", "lo", "-s", "2", "-S", "h", "-f", "udp port 9"}) {
        words.push_back(word);
    }
    twtest::background_run capture(words);

    // Datagrams go on until the first query reaches the responder: the
    // capture has then ended and the lookups have begun, however long the
    // capture took to start.
    const auto start = std::chrono::steady_clock::now();
    while (resolver_.queries().empty() &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
        const twtest::run_result sent =
            resolver_.run("/bin/bash", {"-c", "echo x >/dev/udp/" + silent + "/9"});
        ASSERT_EQ(sent.status, 0) << sent.err;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(resolver_.queries().empty()) << "no lookup began";
    capture.signal(SIGALRM);
    for (int i = 0; i < interrupts; ++i) {
        capture.signal(SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const twtest::run_result run = capture.finish(hang_bound);
    // The wait looks at the first SIGINT within 100 ms: a second one 20 ms
    // after it nearly always finds it still waiting, and ends the program;
    // one that comes after the report finds the program gone.
    if (interrupts == 2 && run.status == 128 + SIGINT) {
        EXPECT_EQ(run.out, "");
        continue;
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "tallywire: name lookups stopped by SIGINT: numbers stand where no name came\n");
    const std::string& out = run.out;
    EXPECT_EQ(out.rfind("Total Statistics:\n", 0), 0u) << out;
    EXPECT_NE(out.find("Host Statistics:\n\t" + silent + " "), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');
  }
}

// Lookups that take long show how many are done on a terminal, and erase
// the line before the rows: a responder that takes 400 ms per answer keeps
// 301 lookups, 32 at a time, busy for some four seconds.
TEST(LookupProgress, ShownOnATerminalAndErasedBeforeTheRows) {
    const std::string no_terminal = twtest::terminal_unavailable();
    if (!no_terminal.empty()) {
        GTEST_SKIP() << no_terminal;
    }
    const twtest::resolver_namespace slow_resolver(400);
    if (!slow_resolver.unavailable().empty()) {
        GTEST_SKIP() << slow_resolver.unavailable();
    }
    twtest::temp_dir dir;
    const std::string capture = dir.file("hosts.pcap");
    const std::string out = dir.file("report.txt");
    twgen::write_pcap(capture, DLT_EN10MB, 65535, host_traffic().frames);

    std::string command;
    for (const std::string& word : slow_resolver.exec_words()) {
        command += twtest::shell_quoted(word) + " ";
    }
    command += twtest::shell_quoted(twtest::tallywire_path()) + " -S h -r " +
               twtest::shell_quoted(capture) + " >" + twtest::shell_quoted(out);
    const twtest::run_result shown = twtest::run_under_terminal(command, hang_bound);
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("Looking up names: "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(" of " + std::to_string(host_count + 1)), std::string::npos)
        << shown.out;
    EXPECT_EQ(shown.out.find('\n'), std::string::npos) << shown.out;
    EXPECT_TRUE(twtest::ends_erased(shown.out)) << shown.out;

    const auto written = twgen::read_file(out);
    const twtest::run_result plain =
        slow_resolver.run(twtest::tallywire_path(), {"-S", "h", "-r", capture});
    EXPECT_EQ(std::string(written.begin(), written.end()), plain.out);
    EXPECT_EQ(plain.err, "");
}

}  // namespace
