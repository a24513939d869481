// The capture files are read back through libpcap (pcap) and by hand
// (snoop), so that a fault in the writers cannot hide behind a reader of
// our own.

#include "gen/capture_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <numeric>

#include "frame_reader.h"
#include "pcap_read_back.h"
#include "support/process.h"

namespace {

using tools_test::be32;

using tools_test::read_with_libpcap;
using read_back = tools_test::pcap_read_back;

// Frames of several sizes around the snap length, each byte telling its
// frame and place apart.
std::vector<twgen::frame> numbered_frames() {
    std::vector<twgen::frame> frames;
    const std::size_t sizes[] = {14, 60, 63, 64, 65, 1514};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        twgen::frame f;
        f.bytes.resize(sizes[i]);
        std::iota(f.bytes.begin(), f.bytes.end(), static_cast<std::uint8_t>(i * 40));
        f.wire_length = i == 0 ? 0 : static_cast<std::uint32_t>(sizes[i] + i);
        f.seconds = 1700000000 + static_cast<std::int64_t>(i);
        f.microseconds = static_cast<std::int64_t>(i * 999);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::uint32_t expected_wire(const twgen::frame& f) {
    return f.wire_length != 0 ? f.wire_length : static_cast<std::uint32_t>(f.bytes.size());
}

TEST(PcapWriter, LibpcapReadsBackBytesLengthsAndTimes) {
    twtest::temp_dir dir;
    const auto frames = numbered_frames();
    for (const int datalink : {0, 1, 9}) {
        const std::string path = dir.file("frames" + std::to_string(datalink) + ".pcap");
        twgen::write_pcap(path, datalink, 64, frames);
        const read_back r = read_with_libpcap(path);
        EXPECT_EQ(r.datalink, datalink);
        EXPECT_EQ(r.snap_length, 64);
        ASSERT_EQ(r.headers.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const auto kept = std::min<std::size_t>(frames[i].bytes.size(), 64);
            EXPECT_EQ(r.headers[i].caplen, kept);
            EXPECT_EQ(r.headers[i].len, expected_wire(frames[i]));
            EXPECT_EQ(r.headers[i].ts.tv_sec, frames[i].seconds);
            EXPECT_EQ(r.headers[i].ts.tv_usec, frames[i].microseconds);
            EXPECT_TRUE(std::equal(r.bodies[i].begin(), r.bodies[i].end(),
                                   frames[i].bytes.begin()));
        }
    }
}

TEST(PcapWriter, StreamingWriterMakesTheSameFile) {
    twtest::temp_dir dir;
    const auto frames = numbered_frames();
    twgen::write_pcap(dir.file("whole.pcap"), 1, 100, frames);
    {
        twgen::pcap_writer writer(dir.file("streamed.pcap"), 1, 100);
        for (const twgen::frame& f : frames) {
            writer.write(f);
        }
        writer.finish();
    }
    EXPECT_EQ(twgen::read_file(dir.file("streamed.pcap")), twgen::read_file(dir.file("whole.pcap")));
}

TEST(PcapWriter, EmptyCaptureIsAValidFile) {
    twtest::temp_dir dir;
    twgen::write_pcap(dir.file("empty.pcap"), 1, 65535, {});
    const read_back r = read_with_libpcap(dir.file("empty.pcap"));
    EXPECT_EQ(r.datalink, 1);
    EXPECT_TRUE(r.headers.empty());
}

TEST(PcapWriter, UnwritablePathThrows) {
    EXPECT_THROW(twgen::write_pcap("/nonexistent-dir/x.pcap", 1, 65535, {}), std::runtime_error);
    EXPECT_THROW(twgen::snoop_writer("/nonexistent-dir/x.snoop"), std::runtime_error);
}

TEST(PcapWriter, FullDeviceIsReportedByFinish) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/full to provoke a failed write";
    }
    const auto frames = numbered_frames();
    EXPECT_THROW(twgen::write_pcap("/dev/full", 1, 65535, frames), std::runtime_error);
    EXPECT_THROW(twgen::write_snoop("/dev/full", frames), std::runtime_error);
}

TEST(SnoopImage, HeaderAndRecordsAreBigEndianAndPadded) {
    const auto frames = numbered_frames();
    const std::uint32_t snap = 64;
    const auto image = twgen::snoop_image(frames, snap);
    ASSERT_GE(image.size(), 16u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), std::string("snoop\0\0\0", 8));
    EXPECT_EQ(be32(image, 8), 2u) << "version";
    EXPECT_EQ(be32(image, 12), 4u) << "Ethernet";
    std::size_t at = 16;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ASSERT_LE(at + 24, image.size());
        const std::uint32_t included = be32(image, at + 4);
        const std::uint32_t record = be32(image, at + 8);
        EXPECT_EQ(be32(image, at), expected_wire(frames[i]));
        EXPECT_EQ(included, std::min<std::size_t>(frames[i].bytes.size(), snap));
        EXPECT_EQ(record, 24 + ((included + 3) / 4) * 4) << "body padded to 4 bytes";
        EXPECT_EQ(be32(image, at + 12), 0u) << "drops";
        EXPECT_EQ(be32(image, at + 16), frames[i].seconds);
        EXPECT_EQ(be32(image, at + 20), frames[i].microseconds);
        ASSERT_LE(at + record, image.size());
        EXPECT_TRUE(std::equal(image.begin() + static_cast<long>(at + 24),
                               image.begin() + static_cast<long>(at + 24 + included),
                               frames[i].bytes.begin()));
        for (std::size_t pad = at + 24 + included; pad < at + record; ++pad) {
            EXPECT_EQ(image[pad], 0) << "fill byte at " << pad;
        }
        at += record;
    }
    EXPECT_EQ(at, image.size()) << "nothing after the last record";
}

TEST(SnoopImage, FilesMatchTheImage) {
    twtest::temp_dir dir;
    const auto frames = numbered_frames();
    twgen::write_snoop(dir.file("whole.snoop"), frames, 100);
    {
        twgen::snoop_writer writer(dir.file("streamed.snoop"), 100);
        for (const twgen::frame& f : frames) {
            writer.write(f);
        }
        writer.finish();
    }
    const auto image = twgen::snoop_image(frames, 100);
    EXPECT_EQ(twgen::read_file(dir.file("whole.snoop")), image);
    EXPECT_EQ(twgen::read_file(dir.file("streamed.snoop")), image);
    EXPECT_EQ(twgen::snoop_image({}).size(), 16u) << "an empty capture is the header alone";
}

TEST(RawFiles, WriteThenReadIsIdentity) {
    twtest::temp_dir dir;
    const std::vector<std::uint8_t> contents = {0, 1, 0xff, 0, 0x0a, 0x0d};
    twgen::write_file(dir.file("raw"), contents);
    EXPECT_EQ(twgen::read_file(dir.file("raw")), contents);
    EXPECT_THROW(twgen::read_file(dir.file("missing")), std::runtime_error);
}

}  // namespace
