// Compressed captures cut at every length and with every byte spoilt, run
// through the real binary: each run ends with a report, a message and
// status 1, or a message and the report of the frames before the damage
// with status 2; never a crash, a hang or unbounded memory.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <ostream>
#include <string>
#include <vector>

#include "capture/compressed_files.h"
#include "capture/hostile_runs.h"

namespace {

using hostile::outcome;
using bytes = std::vector<std::uint8_t>;

struct hostile_case {
    twtest::packer packer;
    const char* format;  // "pcap" or "snoop"
};

void PrintTo(const hostile_case& c, std::ostream* out) {
    *out << c.format << " in " << c.packer.name;
}

// A run that stopped at damage in the compressed data: the decompressor's
// one-line message, then the report of the frames before it.
bool is_short_report(const twtest::run_result& r, const std::string& path) {
    const std::size_t line_end = r.err.find('\n');
    return r.status == 2 && !hostile::has_sanitizer_report(r.err) && !r.timed_out &&
           r.err.starts_with(path + ": ") && line_end + 1 == r.err.size() &&
           r.out.starts_with("Total Statistics:\n");
}

bool ends_acceptably(const twtest::run_result& r, const std::string& path) {
    const outcome shape = hostile::classify(r);
    return shape == outcome::report || shape == outcome::no_packets ||
           shape == outcome::failure || shape == outcome::damaged || is_short_report(r, path);
}

class HostileCompressed : public ::testing::TestWithParam<hostile_case> {
protected:
    void SetUp() override {
        const std::string why = twtest::packer_missing(GetParam().packer);
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        const std::string plain = dir_.file(std::string("small.") + GetParam().format);
        if (std::string(GetParam().format) == "snoop") {
            twgen::write_snoop(plain, hostile::small_frames());
        } else {
            twgen::write_pcap(plain, DLT_EN10MB, 65535, hostile::small_frames());
        }
        packed_ = twgen::read_file(twtest::pack(GetParam().packer, plain));
        whole_report_ = hostile::run_on(plain).out;
        path_ = dir_.file(std::string("damaged") + GetParam().packer.suffix);
    }

    twtest::run_result run_image(std::span<const std::uint8_t> image) {
        twgen::write_file(path_, image);
        return hostile::run_on(path_);
    }

    twtest::temp_dir dir_;
    bytes packed_;
    std::string whole_report_;
    std::string path_;
};

// Every cut leaves the compressed data unfinished, so only the whole file
// completes.
TEST_P(HostileCompressed, EveryCutEndsWithAMessageOrAShortReport) {
    for (std::size_t length = 0; length <= packed_.size(); ++length) {
        SCOPED_TRACE("file cut after " + std::to_string(length) + " bytes");
        const auto r = run_image(std::span(packed_).first(length));
        ASSERT_TRUE(ends_acceptably(r, path_)) << hostile::describe(r);
        EXPECT_LT(r.max_rss_kib, hostile::bounded_rss_kib) << hostile::describe(r);
        if (length < 8) {
            EXPECT_EQ(r.err, "read(): couldn't read file magic\n");
        } else if (length == packed_.size()) {
            EXPECT_EQ(r.status, 0) << hostile::describe(r);
            EXPECT_EQ(r.out, whole_report_);
        } else {
            EXPECT_NE(r.status, 0) << hostile::describe(r);
        }
    }
}

TEST_P(HostileCompressed, EverySpoiltByteEndsAcceptably) {
    for (std::size_t offset = 0; offset < packed_.size(); ++offset) {
        SCOPED_TRACE("byte " + std::to_string(offset) + " spoilt");
        bytes image = packed_;
        image[offset] ^= 0xa5;
        const auto r = run_image(image);
        ASSERT_TRUE(ends_acceptably(r, path_)) << hostile::describe(r);
        EXPECT_LT(r.max_rss_kib, hostile::bounded_rss_kib) << hostile::describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileCompressed,
    ::testing::Values(hostile_case{twtest::gzip_packer, "pcap"},
                      hostile_case{twtest::gzip_packer, "snoop"},
                      hostile_case{twtest::zstd_packer, "pcap"},
                      hostile_case{twtest::zstd_packer, "snoop"}),
    [](const auto& info) {
        return std::string(info.param.format) + "_" + info.param.packer.name;
    });

}  // namespace
