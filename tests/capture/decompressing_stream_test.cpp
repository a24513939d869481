// The decompressing stream in-process: whatever the size of the reads, and
// with a look at the first bytes before them, it hands out exactly the
// bytes of the uncompressed file, then a clean end.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/compressed_files.h"
#include "capture/decompressing_stream.h"
#include "capture/source_test_support.h"
#include "gen/capture_writer.h"

using namespace tallywire;

namespace {

using bytes = std::vector<std::uint8_t>;

struct read_case {
    twtest::packer packer;
    std::size_t piece;  // bytes asked for by every read
    bool peek_first;
};

void PrintTo(const read_case& c, std::ostream* out) {
    *out << c.packer.name << ", pieces of " << c.piece << (c.peek_first ? ", peeked" : "");
}

class DecompressingStream : public ::testing::TestWithParam<read_case> {};

TEST_P(DecompressingStream, HandsOutTheUncompressedBytes) {
    const read_case& c = GetParam();
    if (!twtest::packer_missing(c.packer).empty()) {
        GTEST_SKIP() << twtest::packer_missing(c.packer);
    }
    twtest::temp_dir dir;
    const std::string plain = dir.file("frames.snoop");
    std::vector<twgen::frame> frames;
    for (int copy = 0; copy < 40; ++copy) {
        for (const twgen::frame& f : twtest::mixed_ethernet_frames()) {
            frames.push_back(f);
        }
    }
    twgen::write_snoop(plain, frames);
    const bytes expected = twgen::read_file(plain);
    const std::string packed = twtest::pack(c.packer, plain);

    decompressing_stream stream(open_for_reading(packed),
                                c.packer.suffix == std::string(".gz") ? compression::gzip
                                                                      : compression::zstd,
                                packed);
    ASSERT_TRUE(stream.ready());
    if (c.peek_first) {
        const auto first = stream.peek(8);
        ASSERT_EQ(first.size(), 8u);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), expected.begin()));
    }
    bytes seen;
    std::vector<std::uint8_t> buffer(c.piece);
    for (;;) {
        const read_outcome got = stream.read_some(buffer);
        ASSERT_FALSE(got.failed);
        if (got.count == 0) {
            break;
        }
        seen.insert(seen.end(), buffer.begin(), buffer.begin() + got.count);
    }
    EXPECT_FALSE(stream.failed());
    EXPECT_TRUE(seen == expected) << seen.size() << " bytes of " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(
    Reads, DecompressingStream,
    ::testing::Values(read_case{twtest::gzip_packer, 1, true},
                      read_case{twtest::gzip_packer, 4093, false},
                      read_case{twtest::gzip_packer, 1 << 20, true},
                      read_case{twtest::zstd_packer, 1, true},
                      read_case{twtest::zstd_packer, 4093, false},
                      read_case{twtest::zstd_packer, 1 << 20, true}),
    [](const auto& info) {
        return std::string(info.param.packer.name) + "_" + std::to_string(info.param.piece) +
               (info.param.peek_first ? "_peeked" : "");
    });

}  // namespace
