// The snoop reader on real files: frame for frame what libpcap delivers for
// the same frames, and the record layout details that libpcap cannot show.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <functional>
#include <thread>

#include "capture/sources.h"
#include "capture/source_test_support.h"
#include "cli/program_state.h"
#include "support/process.h"

using namespace tallywire;

namespace {

using twtest::seen_frame;

using twtest::first_record;
using twtest::put_be32;

std::uint32_t get_be32(const std::vector<std::uint8_t>& image, std::size_t offset) {
    return std::uint32_t{image.at(offset)} << 24 | std::uint32_t{image.at(offset + 1)} << 16 |
           std::uint32_t{image.at(offset + 2)} << 8 | std::uint32_t{image.at(offset + 3)};
}

struct snoop_run {
    int result = 0;
    std::vector<seen_frame> frames;
};

snoop_run read_snoop(const std::string& path) {
    snoop_run run;
    run.result = get_snoop_data(twtest::file_config(path), twtest::collect_frame, &run.frames);
    return run;
}

snoop_run read_through_selection(const std::string& path) {
    snoop_run run;
    run.result =
        capture_from_source(twtest::file_config(path), twtest::collect_frame, &run.frames);
    return run;
}

twgen::frame ethernet_frame(std::size_t payload, std::uint32_t seconds = 1) {
    const twgen::mac_address a = {2, 0, 0, 0, 0, 1};
    twgen::frame f;
    f.bytes = twgen::ethernet(a, a, twgen::ethertype_ipv4,
                              twgen::ipv4(0x0a000001, 0x0a000002, twgen::ip_udp,
                                          twgen::udp(7, 7, payload)));
    f.seconds = seconds;
    return f;
}

class SnoopReader : public ::testing::Test {
protected:
    void SetUp() override { reset_program_state(); }

    std::string write_image(const std::vector<std::uint8_t>& image) {
        const std::string path = dir_.file("capture.snoop");
        twgen::write_file(path, image);
        return path;
    }

    twtest::temp_dir dir_;
};

TEST_F(SnoopReader, DeliversWhatLibpcapDeliversForTheSameFrames) {
    const auto frames = twtest::mixed_ethernet_frames();
    const std::string pcap_path = dir_.file("same.pcap");
    const std::string snoop_path = dir_.file("same.snoop");
    twgen::write_pcap(pcap_path, 1, 65535, frames);
    twgen::write_snoop(snoop_path, frames);

    const snoop_run from_pcap = read_through_selection(pcap_path);
    const snoop_run from_snoop = read_through_selection(snoop_path);
    ASSERT_EQ(from_pcap.result, 0);
    ASSERT_EQ(from_snoop.result, 0);
    ASSERT_EQ(from_snoop.frames.size(), frames.size());
    EXPECT_EQ(from_snoop.frames, from_pcap.frames);
}

// Enough records to refill the read buffer many times, with record sizes
// that put record and buffer boundaries everywhere relative to each other.
TEST_F(SnoopReader, RecordsAcrossManyBufferRefillsMatchLibpcap) {
    std::vector<twgen::frame> frames;
    for (std::uint32_t i = 0; i < 12000; ++i) {
        frames.push_back(ethernet_frame(18 + (i * 37) % 1473, i));
    }
    const std::string pcap_path = dir_.file("many.pcap");
    const std::string snoop_path = dir_.file("many.snoop");
    twgen::write_pcap(pcap_path, 1, 65535, frames);
    twgen::write_snoop(snoop_path, frames);
    ASSERT_GT(twgen::read_file(snoop_path).size(), std::size_t{8} << 20);

    const snoop_run from_pcap = read_through_selection(pcap_path);
    const snoop_run from_snoop = read_snoop(snoop_path);
    ASSERT_EQ(from_snoop.result, 0);
    ASSERT_EQ(from_snoop.frames.size(), frames.size());
    EXPECT_TRUE(from_snoop.frames == from_pcap.frames);
}

// A record larger than the read buffer, between two ordinary ones.
TEST_F(SnoopReader, RecordLargerThanTheReadBuffer) {
    std::vector<twgen::frame> frames = {ethernet_frame(10, 1), ethernet_frame(60000, 2),
                                        ethernet_frame(20, 3)};
    frames[1].bytes.resize(3u << 20, 0x77);
    frames[1].wire_length = 3u << 20;
    const snoop_run run = read_snoop(write_image(twgen::snoop_image(frames, 4u << 20)));

    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(run.frames.size(), 3u);
    EXPECT_EQ(run.frames[1].wire_length, 3u << 20);
    ASSERT_EQ(run.frames[1].data.size(), packet_data_size);
    EXPECT_TRUE(std::equal(run.frames[1].data.begin(), run.frames[1].data.end(),
                           frames[1].bytes.begin() + 14));
    EXPECT_EQ(run.frames[2].seconds, 3);
    EXPECT_EQ(run.frames[2].data.size(), frames[2].bytes.size() - 14);
}

TEST_F(SnoopReader, HeaderOnlyFileIsACleanEmptyCapture) {
    const snoop_run run = read_through_selection(write_image(twgen::snoop_image({})));
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.frames.empty());
}

TEST_F(SnoopReader, AnyVersionIsAccepted) {
    for (const std::uint32_t version : {0u, 1u, 3u, 0xffffffffu}) {
        auto image = twgen::snoop_image(std::vector{ethernet_frame(4)});
        put_be32(image, 8, version);
        const snoop_run run = read_snoop(write_image(image));
        EXPECT_EQ(run.result, 0) << "version " << version;
        EXPECT_EQ(run.frames.size(), 1u) << "version " << version;
    }
}

// Record length, not included length, says where the next record begins;
// fill bytes between them are never decoded.
TEST_F(SnoopReader, FillBytesAreSkippedAndNeverDecoded) {
    const std::vector frames = {ethernet_frame(18), ethernet_frame(30, 2)};
    auto image = twgen::snoop_image(frames);
    ASSERT_EQ(get_be32(image, first_record + 4), 60u);
    // Grow the first record to 88 bytes: a 64-byte body, 4 fill bytes.
    const std::vector<std::uint8_t> fill = {0x08, 0x00, 0xde, 0xad};
    image.insert(image.begin() + static_cast<std::ptrdiff_t>(first_record + 24 + 60),
                 fill.begin(), fill.end());
    put_be32(image, first_record + 8, 88);

    const snoop_run run = read_snoop(write_image(image));
    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(run.frames.size(), 2u);
    EXPECT_EQ(run.frames[0].data.size(), 60u - 14u);
    EXPECT_EQ(run.frames[1].seconds, 2);
    EXPECT_EQ(run.frames[1].data.size(), frames[1].bytes.size() - 14);
}

TEST_F(SnoopReader, IncludedLengthBeyondTheBodyIsCutToTheBody) {
    auto image = twgen::snoop_image(std::vector{ethernet_frame(18), ethernet_frame(18, 2)});
    put_be32(image, first_record + 4, 0x7fffffff);
    const snoop_run run = read_snoop(write_image(image));
    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(run.frames.size(), 2u);
    EXPECT_EQ(run.frames[0].data.size(), 60u - 14u);
}

TEST_F(SnoopReader, TimeStampsAreUnsigned) {
    auto image = twgen::snoop_image(std::vector{ethernet_frame(4)});
    put_be32(image, first_record + 16, 0xffffffff);
    put_be32(image, first_record + 20, 0xfffffffe);
    const snoop_run run = read_snoop(write_image(image));
    ASSERT_EQ(run.frames.size(), 1u);
    EXPECT_EQ(run.frames[0].seconds, 4294967295LL);
    EXPECT_EQ(run.frames[0].microseconds, 4294967294LL);
}

TEST_F(SnoopReader, FileThatDoesNotOpen) {
    ::testing::internal::CaptureStderr();
    const snoop_run run = read_snoop(dir_.file("absent.snoop"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "open(): No such file or directory\n");
    EXPECT_EQ(run.result, -1);
}

TEST_F(SnoopReader, FramesBeforeADamagedRecordReachTheSink) {
    std::vector<twgen::frame> frames(4, ethernet_frame(100));
    auto image = twgen::snoop_image(frames);
    image.resize(image.size() - 10);
    const snoop_run run = read_snoop(write_image(image));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.frames.size(), 3u);
}

// Reads a snoop image through a named pipe fed by a thread, in pieces of
// the sizes that next_piece gives in turn.
snoop_run read_through_fifo(const twtest::temp_dir& dir, const std::vector<std::uint8_t>& image,
                            const std::function<std::size_t()>& next_piece) {
    return twtest::read_through_fifo(
        dir.file("fifo"), image, [](const std::string& fifo) { return read_snoop(fifo); },
        next_piece);
}

// A source that hands over a few bytes per read, as a pipe-backed device
// does, must give the same frames as the file.
TEST_F(SnoopReader, InputArrivingInSmallPiecesGivesTheSameFrames) {
    const auto frames = twtest::mixed_ethernet_frames();
    const auto image = twgen::snoop_image(frames);
    std::size_t piece = 0;
    const snoop_run run = read_through_fifo(dir_, image, [&] { return piece = piece % 29 + 1; });

    const snoop_run from_file = read_snoop(write_image(image));
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.frames.size(), frames.size());
    EXPECT_EQ(run.frames, from_file.frames);
}

// Without a file size to go by, the buffer grows as the record arrives.
TEST_F(SnoopReader, RecordLargerThanTheReadBufferThroughAPipe) {
    std::vector<twgen::frame> frames = {ethernet_frame(10, 1), ethernet_frame(60000, 2),
                                        ethernet_frame(20, 3)};
    frames[1].bytes.resize(5u << 20, 0x33);
    const auto image = twgen::snoop_image(frames, 8u << 20);
    const snoop_run run = read_through_fifo(dir_, image, [] { return std::size_t{65521}; });

    ASSERT_EQ(run.result, 0);
    ASSERT_EQ(run.frames.size(), 3u);
    EXPECT_EQ(run.frames[1].wire_length, 5u << 20);
    EXPECT_EQ(run.frames[2].seconds, 3);
}

}  // namespace
