// Whole reports of small hand-made captures, through the real binary, against
// reports worked out by hand.

#include <arpa/inet.h>
#include <netdb.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "office_capture.h"
#include "report_check.h"
#include "support/process.h"

namespace {

using report_test::block;
using report_test::expected_block;
using report_test::report_matches;
using report_test::mac_a;
using report_test::mac_b;
using report_test::office_frames;
using report_test::office_total;


expected_block total_block() { return block("Total", {{"Total ", 6, office_total}}, office_total); }
expected_block link_block() {
    return block("Link",
                 {{"Ethernet (IP): ", 4, 1564}, {"Ethernet (IPv6): ", 1, 200},
                  {"Ethernet (arp): ", 1, 60}},
                 office_total);
}
expected_block ip_block_numbers() {
    return block("IP", {{"6 ", 2, 1400}, {"17 ", 2, 300}, {"1 ", 1, 64}}, office_total);
}
expected_block port_block_numbers() {
    return block("Port", {{"80 ", 2, 1400}, {"40000 ", 2, 1400}, {"53 ", 1, 100}}, office_total);
}
expected_block host_block_numbers() {
    return block("Host",
                 {{"10.0.0.1 ", 4, 1564}, {"10.0.0.2 ", 2, 1400}, {"192.168.1.7 ", 1, 100},
                  {"172.16.5.4 ", 1, 64}},
                 office_total);
}
expected_block network_block() {
    return block("Network", {{"10.0.0.0 ", 4, 1564}, {"192.168.1.0 ", 1, 100}, {"172.16.0.0 ", 1, 64}},
                 office_total);
}

class OfficeReport : public ::testing::Test {
protected:
    void SetUp() override {
        twgen::write_pcap(capture_, DLT_EN10MB, 65535, office_frames());
    }

    twtest::run_result report(std::vector<std::string> options) const {
        options.push_back("-r");
        options.push_back(capture_);
        return twtest::run_tallywire(options);
    }

    twtest::temp_dir dir_;
    std::string capture_ = dir_.file("office.pcap");
};

TEST_F(OfficeReport, TotalAloneIsOneExactLine) {
    const auto run = report({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "Total Statistics:\n\tTotal                    6         1824      100.0000 %\n");
}

TEST_F(OfficeReport, EveryKindUnderEveryLineLimit) {
    const std::vector<expected_block> all = {total_block(),        link_block(),
                                             ip_block_numbers(),   port_block_numbers(),
                                             host_block_numbers(), network_block()};
    // 1 cuts the Port block between two rows of 1400 bytes: either may stand.
    for (const int limit : {-1, 0, 1, 3, 4, 100}) {
        const auto run = report({"-n", "-S", "a", "-t", std::to_string(limit)});
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(report_matches(run.out, all, limit)) << "-t " << limit;
    }
    // No -t at all is every row, and kinds are printed in their fixed order
    // whatever order the letters name them in.
    EXPECT_TRUE(report_matches(report({"-n", "-S", "nhpil"}).out, all, -1));
    EXPECT_TRUE(report_matches(report({"-n", "-S", "a", "-t", "-7"}).out, all, -1));
}

TEST_F(OfficeReport, SidesApartUnderSplit) {
    const std::vector<expected_block> all = {
        total_block(),
        link_block(),
        ip_block_numbers(),
        block("Port",
              {{"40000 > ", 1, 1000}, {"80 < ", 1, 1000}, {"80 > ", 1, 400}, {"40000 < ", 1, 400},
               {"53 > ", 1, 100}, {"53 < ", 1, 100}},
              office_total),
        block("Host",
              {{"10.0.0.1 > ", 2, 1100}, {"10.0.0.2 < ", 1, 1000}, {"10.0.0.2 > ", 1, 400},
               {"10.0.0.1 < ", 2, 464}, {"192.168.1.7 < ", 1, 100}, {"172.16.5.4 > ", 1, 64}},
              office_total),
        block("Network",
              {{"10.0.0.0 > ", 3, 1500}, {"10.0.0.0 < ", 3, 1464}, {"192.168.1.0 < ", 1, 100},
               {"172.16.0.0 > ", 1, 64}},
              office_total),
    };
    for (const int limit : {-1, 0, 3}) {
        const auto run = report({"-n", "-d", "-S", "a", "-t", std::to_string(limit)});
        EXPECT_TRUE(report_matches(run.out, all, limit)) << "-d -t " << limit;
    }
}

TEST_F(OfficeReport, ServiceAndProtocolNames) {
    if (getservbyport(htons(80), nullptr) == nullptr || getprotobynumber(6) == nullptr) {
        GTEST_SKIP() << "the services or protocols database (netbase) is not installed";
    }
    ASSERT_EQ(getservbyport(htons(40000), nullptr), nullptr) << "40000 must have no service";
    // Without -n, but with no Host kind: nothing asks the resolver.
    const auto run = report({"-S", "ip"});
    EXPECT_TRUE(report_matches(
        run.out,
        {total_block(),
         block("IP", {{"tcp ", 2, 1400}, {"udp ", 2, 300}, {"icmp ", 1, 64}}, office_total),
         block("Port", {{"http (80) ", 2, 1400}, {"40000 ", 2, 1400}, {"domain (53) ", 1, 100}},
               office_total)},
        -1));
}

TEST(SparseReport, NothingCountedSaysSoOnStandardError) {
    twtest::temp_dir dir;
    const std::string capture = dir.file("empty.pcap");
    twgen::write_pcap(capture, DLT_EN10MB, 65535, {});
    const auto run = twtest::run_tallywire({"-S", "a", "-r", capture});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No packets processed.\n");
}

TEST(SparseReport, KindWithoutEntriesPrintsOnlyItsHeading) {
    twtest::temp_dir dir;
    const std::string capture = dir.file("arp.pcap");
    const std::vector<twgen::frame> frames = {
        {twgen::ethernet(mac_b, mac_a, twgen::ethertype_arp, twgen::arp(1, 1, 2)), 60}};
    twgen::write_pcap(capture, DLT_EN10MB, 65535, frames);
    const auto run = twtest::run_tallywire({"-n", "-S", "iphn", "-r", capture});
    EXPECT_EQ(run.out,
              "Total Statistics:\n\tTotal                    1         60        100.0000 %\n"
              "IP Statistics:\nPort Statistics:\nHost Statistics:\nNetwork Statistics:\n");
}

TEST(SparseReport, ZeroBytesInAllGivesNotANumber) {
    twtest::temp_dir dir;
    const std::string capture = dir.file("zero.pcap");
    const std::vector<twgen::frame> frames = {{{}, 0}, {{}, 0}};
    twgen::write_pcap(capture, DLT_EN10MB, 65535, frames);
    const auto run = twtest::run_tallywire({"-r", capture});
    const std::string head = "Total Statistics:\n\tTotal                    2         0         ";
    ASSERT_EQ(run.out.substr(0, head.size()), head) << run.out << run.err;
    const std::string rest = run.out.substr(head.size());
    EXPECT_TRUE(rest == "-nan  %\n" || rest == "nan   %\n") << rest;
}

}  // namespace

namespace {

TEST(ReportOutput, WriteFailureIsReported) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    twtest::temp_dir dir;
    const std::string capture = dir.file("office.pcap");
    twgen::write_pcap(capture, DLT_EN10MB, 65535, office_frames());
    const auto run = twtest::run_program(
        "/bin/sh", {"-c", "exec \"$0\" -n -S a -r \"$1\" >/dev/full", twtest::tallywire_path(),
                    capture});
    EXPECT_EQ(run.err, "print_report(): No space left on device\n");
    EXPECT_EQ(run.status, 1) << "a report that was not written is no success";
}

}  // namespace
