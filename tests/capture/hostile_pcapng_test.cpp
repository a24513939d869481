// Damaged pcapng files: every prefix of a valid file, length fields of 0,
// 1, 2^31 and 2^32 - 1, block lengths that disagree, unknown block types,
// an interface number past the descriptions, sections that change byte
// order. In-process, the reader runs on each image in a heap block of
// exactly its size, so that a read past it is the sanitizers' to see;
// through the binary, each run ends with a clean message and status.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_file_reader.h"
#include "capture/capture_images.h"
#include "capture/hostile_runs.h"
#include "capture/record_input.h"
#include "capture/source_test_support.h"

using namespace tallywire;

namespace {

struct verdict {
    bool opened = false;
    std::size_t frames = 0;
    bool damaged = false;
    std::string problem;
};

// The reader on a copy of image in a heap block of exactly its size.
verdict read_exactly(const twtest::image_bytes& image) {
    const auto block = std::make_unique<std::uint8_t[]>(image.size());
    if (!image.empty()) {
        std::memcpy(block.get(), image.data(), image.size());
    }
    record_input input(byte_span(block.get(), image.size()));
    capture_file_reader reader(input);
    verdict v;
    v.opened = reader.open();
    if (!v.opened) {
        v.problem = reader.problem();
        return v;
    }
    file_frame frame;
    file_read found;
    while ((found = reader.next(frame)) == file_read::frame) {
        ++v.frames;
        // Every byte of the view is read, inside the block.
        unsigned sum = 0;
        for (const std::uint8_t b : frame.bytes) {
            sum += b;
        }
        EXPECT_GE(frame.bytes.data(), block.get());
        EXPECT_LE(frame.bytes.data() + frame.bytes.size(), block.get() + image.size());
        (void)sum;
    }
    v.damaged = found == file_read::damaged;
    v.problem = reader.problem();
    return v;
}

class HostilePcapng : public hostile::damaged_capture_test {
protected:
    HostilePcapng() {
        file_.interface(1, 65535);
        for (const auto& f : frames_) {
            file_.packet(0, f.bytes, static_cast<std::uint32_t>(f.bytes.size()), 7);
        }
    }

    void put32(twtest::image_bytes& image, std::size_t offset, std::uint32_t value) {
        std::memcpy(image.data() + offset, &value, sizeof value);
    }

    const std::vector<twgen::frame> frames_ = hostile::small_frames();
    twtest::pcapng_image file_;
};

// A prefix that ends between blocks reads as the frames before it; one
// that ends inside a block is damage after them, never a read past it.
TEST_F(HostilePcapng, EveryPrefix) {
    const auto& starts = file_.block_starts;
    const auto& image = file_.bytes;
    for (std::size_t length = 0; length <= image.size(); ++length) {
        SCOPED_TRACE("cut after " + std::to_string(length) + " bytes");
        const verdict v = read_exactly(twtest::image_bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length)));
        if (length < starts[1]) {
            EXPECT_FALSE(v.opened);
            EXPECT_FALSE(v.problem.empty());
            continue;
        }
        ASSERT_TRUE(v.opened) << v.problem;
        const auto whole = static_cast<std::size_t>(
            std::upper_bound(starts.begin(), starts.end(), length) - starts.begin() - 1);
        // Blocks: the section, the interface, then one per frame.
        EXPECT_EQ(v.frames, whole >= 2 ? whole - 2 : 0);
        EXPECT_EQ(v.damaged, std::find(starts.begin(), starts.end(), length) == starts.end());
    }
}

TEST_F(HostilePcapng, ExtremeLengthFieldsInEveryBlock) {
    const auto& starts = file_.block_starts;
    for (std::size_t block = 0; block + 1 < starts.size(); ++block) {
        for (const std::uint32_t value : {0u, 1u, 0x80000000u, 0xffffffffu}) {
            for (const std::size_t field : {starts[block] + 4, starts[block + 1] - 4}) {
                SCOPED_TRACE("block " + std::to_string(block) + " field at " +
                             std::to_string(field) + " = " + std::to_string(value));
                auto image = file_.bytes;
                put32(image, field, value);
                const verdict v = read_exactly(image);
                if (block == 0) {
                    EXPECT_FALSE(v.opened);
                } else {
                    EXPECT_TRUE(v.damaged);
                    // Blocks: the section, the interface, then the frames.
                    EXPECT_EQ(v.frames, block >= 2 ? block - 2 : 0);
                }
                EXPECT_FALSE(v.problem.empty());
            }
        }
    }
}

// Captured lengths past the block, the snap length or any frame's limit.
TEST_F(HostilePcapng, CapturedLengthPastWhatTheBlockHolds) {
    const std::size_t packet = file_.block_starts[2];
    for (const std::uint32_t value : {0x1000u, 0x40000u, 0x80000000u, 0xffffffffu}) {
        auto image = file_.bytes;
        put32(image, packet + 20, value);
        const verdict v = read_exactly(image);
        EXPECT_TRUE(v.damaged) << value;
        EXPECT_EQ(v.frames, 0u);
    }
}

TEST_F(HostilePcapng, UnknownBlocksArePassedOver) {
    twtest::pcapng_image file;
    file.other_block(0x12345678, 0);
    file.interface(1, 65535);
    file.other_block(0x80000001, 100000);  // a custom block, long
    file.packet(0, frames_[0].bytes, 60);
    file.other_block(0xffffffff, 3);
    file.packet(0, frames_[1].bytes, 60);
    const verdict v = read_exactly(file.bytes);
    EXPECT_FALSE(v.damaged) << v.problem;
    EXPECT_EQ(v.frames, 2u);
}

TEST_F(HostilePcapng, InterfaceNumberPastTheDescriptions) {
    twtest::pcapng_image file;
    file.interface(1, 65535);
    file.packet(0, frames_[0].bytes, 60);
    file.packet(1, frames_[1].bytes, 60);
    const verdict v = read_exactly(file.bytes);
    EXPECT_TRUE(v.damaged);
    EXPECT_EQ(v.frames, 1u);
    EXPECT_NE(v.problem.find("interface 1"), std::string::npos) << v.problem;

    // A simple packet block with no interface described at all.
    twtest::pcapng_image none;
    none.packet(0, frames_[0].bytes, 60, 0, twtest::packet_block::simple);
    EXPECT_TRUE(read_exactly(none.bytes).damaged);
}

// A new section starts its interfaces over, in its own byte order.
TEST_F(HostilePcapng, SectionsThatChangeByteOrder) {
    twtest::pcapng_image file;
    file.interface(1, 65535);
    file.packet(0, frames_[0].bytes, 60);
    file.section(true);
    file.interface(1, 65535);
    file.packet(0, frames_[1].bytes, 60);
    file.section(false);
    file.packet(0, frames_[2].bytes, 60);  // no interface in this section yet
    const verdict v = read_exactly(file.bytes);
    EXPECT_TRUE(v.damaged);
    EXPECT_EQ(v.frames, 2u);
}

// Through the binary: the message names the file, the frames before the
// damage are reported, status 2; a header that cannot be read is status 1.
TEST_F(HostilePcapng, MessagesAndStatuses) {
    auto cut = file_.bytes;
    cut.resize(cut.size() - 5);
    const auto damaged = run_image(cut);
    ASSERT_EQ(hostile::classify(damaged), hostile::outcome::damaged) << hostile::describe(damaged);
    EXPECT_TRUE(damaged.err.starts_with("pcap_dispatch(): " + dir_.file("damaged") +
                                        ": the block at byte "))
        << damaged.err;
    EXPECT_EQ(twtest::total_row(damaged.out)->packets, frames_.size() - 1);

    auto bad_section = file_.bytes;
    put32(bad_section, 8, 0x11223344);  // no byte-order magic
    const auto refused = run_image(bad_section);
    ASSERT_EQ(hostile::classify(refused), hostile::outcome::failure) << hostile::describe(refused);
    EXPECT_EQ(refused.err, "pcap_open(): " + dir_.file("damaged") +
                               ": the section header at byte 0 has no byte-order magic\n");
}

}  // namespace
