// Reports that cover only the frames before a read error: the reader's
// message, the report of those frames byte for byte, and status 2, so that
// a script can tell them from whole ones. A damaged snoop file still fails
// without a report.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "capture/source_test_support.h"
#include "gen/capture_writer.h"
#include "support/process.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr const char* no_packets = "No packets processed.\n";

class ReadErrorStatus : public ::testing::Test {
protected:
    // The report of a clean pcap file holding the frames.
    std::string report_of(std::span<const twgen::frame> frames) {
        const std::string path = dir_.file("reference.pcap");
        twgen::write_pcap(path, DLT_EN10MB, 65535, frames);
        const auto run = twtest::run_tallywire({"-S", "a", "-n", "-r", path});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    twtest::run_result run_image(const bytes& image) {
        const std::string path = dir_.file("damaged");
        twgen::write_file(path, image);
        return twtest::run_tallywire({"-S", "a", "-n", "-r", path});
    }

    const std::vector<twgen::frame> frames_ = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir_;
};

TEST_F(ReadErrorStatus, PcapCutInsideARecordIsTwoAfterItsReport) {
    const std::string whole = dir_.file("whole.pcap");
    twgen::write_pcap(whole, DLT_EN10MB, 65535, frames_);
    bytes image = twgen::read_file(whole);
    image.resize(image.size() - 3);

    const auto run = run_image(image);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("pcap_dispatch(): ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, report_of(std::span(frames_).first(frames_.size() - 1)));
}

TEST_F(ReadErrorStatus, PcapCutInsideTheFirstRecordIsTwoWithNoPackets) {
    const std::string whole = dir_.file("whole.pcap");
    twgen::write_pcap(whole, DLT_EN10MB, 65535, frames_);
    bytes image = twgen::read_file(whole);
    image.resize(24 + 10);

    const auto run = run_image(image);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("pcap_dispatch(): ")) << run.err;
    EXPECT_TRUE(run.err.ends_with(std::string("\n") + no_packets)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
}

TEST_F(ReadErrorStatus, SnoopCutInsideARecordStillFailsWithoutAReport) {
    bytes image = twgen::snoop_image(frames_);
    image.resize(image.size() - 3);
    const auto run = run_image(image);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "get_snoop_data: Can't read packet data\n");
}

}  // namespace
