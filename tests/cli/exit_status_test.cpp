// Exit statuses of whole runs of the real binary: 0 for a run that
// completed, 1 for a source that could not be opened or filtered (each
// failure leaves its message on standard error and no report), 2 for a
// report of the frames before a read error.

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "capture/report_total.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"


namespace {

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

constexpr const char* no_packets = "No packets processed.\n";

std::uint64_t bytes_of(const std::vector<twgen::frame>& frames) {
    std::uint64_t bytes = 0;
    for (const twgen::frame& f : frames) {
        bytes += f.bytes.size();
    }
    return bytes;
}

std::vector<twgen::frame> a_few_frames() {
    using namespace twgen;
    const mac_address a = {0x02, 0, 0, 0, 0, 1};
    const mac_address b = {0x02, 0, 0, 0, 0, 2};
    const std::uint32_t h1 = ipv4_address("10.1.0.1");
    const std::uint32_t h2 = ipv4_address("10.1.0.2");
    std::vector<frame> frames(3);
    frames[0].bytes = ethernet(a, b, ethertype_ipv4, ipv4(h1, h2, ip_udp, udp(5000, 53, 10)));
    frames[1].bytes = ethernet(b, a, ethertype_ipv4, ipv4(h2, h1, ip_tcp, tcp(80, 40000, 20)));
    frames[2].bytes = ethernet(a, b, ethertype_arp, arp(1, h1, h2));
    return frames;
}

class ExitStatus : public ::testing::Test {
protected:
    void SetUp() override {
        capture_ = dir_.file("three.pcap");
        twgen::write_pcap(capture_, DLT_EN10MB, 65535, a_few_frames());
    }

    twtest::temp_dir dir_;
    std::string capture_;
};

TEST_F(ExitStatus, CompletedFileRunIsZero) {
    const twtest::run_result run = twtest::run_tallywire({"-r", capture_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(twtest::total_row(run.out), (twtest::total_counts{3, bytes_of(a_few_frames())}))
        << run.out;
}

// Options after the file are read as well; a time limit does not apply to
// a file, which is read to its end at once.
TEST_F(ExitStatus, FileRunWithEveryOption) {
    const twtest::run_result run = twtest::run_tallywire(
        {"-S", "a", "-d", "-n", "-p", "-R", "-P", "80", "-t", "2", "-s", "1000", "-r", capture_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(twtest::total_row(run.out), (twtest::total_counts{3, bytes_of(a_few_frames())}))
        << run.out;
}

TEST_F(ExitStatus, FilterThatMatchesNothingStillCompletes) {
    const twtest::run_result run = twtest::run_tallywire({"-f", "icmp", "-r", capture_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, no_packets);
}

TEST_F(ExitStatus, FilterSelectsTheFramesCounted) {
    const twtest::run_result run = twtest::run_tallywire({"-f", "udp port 53", "-r", capture_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(twtest::total_row(run.out), (twtest::total_counts{1, a_few_frames()[0].bytes.size()}))
        << run.out;
}

// A report cut short by its output is no completed run.
TEST_F(ExitStatus, ReportThatCannotBeWrittenIsOne) {
    const twtest::run_result run = twtest::run_program(
        "/bin/sh",
        {"-c", "exec \"$0\" -S a -r \"$1\" >/dev/full", twtest::tallywire_path(), capture_});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err, "");
}

TEST_F(ExitStatus, FilterThatDoesNotCompileFailsAFileRun) {
    for (const char* expression : {"udp port", "not a filter (", "tcp and and", "port 99999999"}) {
        const twtest::run_result run = twtest::run_tallywire({"-f", expression, "-r", capture_});
        EXPECT_EQ(run.status, 1) << expression;
        EXPECT_EQ(run.out, "") << expression;
        EXPECT_TRUE(starts_with(run.err, "pcap_compile(): ")) << run.err;
        EXPECT_EQ(run.err.back(), '\n');
    }
}

TEST_F(ExitStatus, CaptureFileWithoutFramesCompletes) {
    const std::string empty = dir_.file("empty.pcap");
    twgen::write_pcap(empty, DLT_EN10MB, 65535, {});
    const twtest::run_result run = twtest::run_tallywire({"-r", empty});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, no_packets);
}

// A file that breaks off inside a record: the frames before the break are
// real counts and are reported after the library's complaint, but the
// status tells that the report is not of the whole file.
TEST_F(ExitStatus, DispatchErrorAfterFramesIsTwo) {
    std::vector<std::uint8_t> image = twgen::read_file(capture_);
    image.resize(image.size() - 5);
    const std::string cut = dir_.file("cut.pcap");
    twgen::write_file(cut, image);
    const twtest::run_result run = twtest::run_tallywire({"-r", cut});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(starts_with(run.err, "pcap_dispatch(): ")) << run.err;
    const std::vector<twgen::frame> frames = a_few_frames();
    EXPECT_EQ(twtest::total_row(run.out),
              (twtest::total_counts{2, frames[0].bytes.size() + frames[1].bytes.size()}))
        << run.out;
}

TEST_F(ExitStatus, SourceThatCannotBeOpenedIsOne) {
    const twtest::run_result missing = twtest::run_tallywire({"-r", dir_.file("absent.pcap")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_TRUE(starts_with(missing.err, "stat()")) << missing.err;

    const twtest::run_result directory = twtest::run_tallywire({"-r", dir_.path().string()});
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.out, "");
    EXPECT_TRUE(starts_with(directory.err, "pcap_open(): ")) << directory.err;

    const std::string text = dir_.file("notes.txt");
    twgen::write_file(text, std::vector<std::uint8_t>(64, 'x'));
    const twtest::run_result not_a_capture = twtest::run_tallywire({"-r", text});
    EXPECT_EQ(not_a_capture.status, 1);
    EXPECT_TRUE(starts_with(not_a_capture.err, "pcap_open(): ")) << not_a_capture.err;
}

// Only the exact word "auto" asks for the default device; any other name,
// even one that differs only in case or length, is opened as given.
TEST(LiveSourceName, InterfaceThatDoesNotExistIsOne) {
    const std::string absent = "twnone" + std::to_string(getpid());
    for (const std::string& name : {absent, std::string("Auto"), std::string("auto0")}) {
        const twtest::run_result run = twtest::run_tallywire({"-i", name});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_TRUE(starts_with(run.err, "pcap_open(): ")) << name << ": " << run.err;
        EXPECT_EQ(run.err.find("Listening on"), std::string::npos) << name;
    }
}

}  // namespace
