// Capture files compressed with gzip and zstd, through the real binary:
// the same report as the uncompressed file, the decompressor's message and
// a defined status when the compressed data is damaged, and memory that
// stays bounded however far a file expands.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/compressed_files.h"
#include "capture/report_total.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"

namespace {

using twtest::packer;
using bytes = std::vector<std::uint8_t>;

// Peak resident size allowed to a run however far its file expands.
constexpr long bounded_rss_kib = 64 * 1024;

twtest::run_result run_on(const std::vector<std::string>& options, const std::string& path) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-r", path});
    return twtest::run_tallywire(args);
}

// A generated capture of a few megabytes: many gzip buffers and zstd blocks.
std::string generated(const twtest::temp_dir& dir, const std::string& format) {
    const std::string path = dir.file("capture." + format);
    const auto run = twtest::run_program(TALLYWIRE_GEN_BINARY,
                                         {"-o", path, "-F", format, "-n", "4000", "-S", "16"});
    EXPECT_EQ(run.status, 0) << run.err;
    return path;
}

class CompressedCapture : public ::testing::TestWithParam<packer> {
protected:
    void SetUp() override {
        const std::string why = twtest::packer_missing(GetParam());
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
    }

    void expect_same_run(const std::vector<std::string>& options, const std::string& plain,
                         const std::string& packed) {
        SCOPED_TRACE(packed);
        const auto expected = run_on(options, plain);
        const auto run = run_on(options, packed);
        ASSERT_EQ(expected.status, 0) << expected.err;
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, expected.err);
        EXPECT_EQ(run.out, expected.out);
    }

    std::string message(const std::string& path, const std::string& text) const {
        return path + ": " + GetParam().name + ": " + text + "\n";
    }

    twtest::temp_dir dir_;
};

TEST_P(CompressedCapture, GivesTheReportOfTheUncompressedFile) {
    for (const std::string format : {"pcap", "snoop"}) {
        const std::string plain = generated(dir_, format);
        const std::string packed = twtest::pack(GetParam(), plain);
        expect_same_run({"-S", "a", "-n"}, plain, packed);
        expect_same_run({"-S", "pih", "-d", "-t", "7", "-n"}, plain, packed);
    }
}

TEST_P(CompressedCapture, FilterAppliesAsToThePcapInside) {
    const std::string plain = generated(dir_, "pcap");
    const std::string packed = twtest::pack(GetParam(), plain);
    expect_same_run({"-S", "ip", "-n", "-f", "udp or icmp"}, plain, packed);
}

// gzip members and zstd frames one after another read as one capture.
TEST_P(CompressedCapture, ConcatenatedPiecesReadAsOneCapture) {
    for (const std::string format : {"pcap", "snoop"}) {
        const std::string plain = generated(dir_, format);
        const bytes whole = twgen::read_file(plain);
        const std::size_t cut = whole.size() / 3 + 7;  // inside a record
        const std::string first = dir_.file("first"), second = dir_.file("second");
        twgen::write_file(first, std::span(whole).first(cut));
        twgen::write_file(second, std::span(whole).subspan(cut));
        bytes joined = twgen::read_file(twtest::pack(GetParam(), first));
        const bytes rest = twgen::read_file(twtest::pack(GetParam(), second));
        joined.insert(joined.end(), rest.begin(), rest.end());
        const std::string packed = dir_.file("joined");
        twgen::write_file(packed, joined);
        expect_same_run({"-S", "a", "-n"}, plain, packed);
    }
}

// Damage found before the first frame fails the source; damage after
// frames stops the reading, and their report follows with status 2.
TEST_P(CompressedCapture, CutShortBeforeTheFirstFrameIsOne) {
    for (const std::string format : {"pcap", "snoop"}) {
        const bytes packed = twgen::read_file(twtest::pack(GetParam(), generated(dir_, format)));
        const std::string cut = dir_.file("cut" + format);
        twgen::write_file(cut, std::span(packed).first(40));
        const auto run = run_on({"-n"}, cut);
        EXPECT_EQ(run.status, 1) << format;
        EXPECT_EQ(run.out, "") << format;
        EXPECT_EQ(run.err, message(cut, "unexpected end of file")) << format;
    }
}

TEST_P(CompressedCapture, CutShortAfterFramesIsTwoAfterTheirReport) {
    for (const std::string format : {"pcap", "snoop"}) {
        const std::string plain = generated(dir_, format);
        const bytes packed = twgen::read_file(twtest::pack(GetParam(), plain));
        const std::string cut = dir_.file("cut" + format);
        twgen::write_file(cut, std::span(packed).first(packed.size() / 2));
        const auto run = run_on({"-n"}, cut);
        EXPECT_EQ(run.status, 2) << format;
        EXPECT_EQ(run.err, message(cut, "unexpected end of file")) << format;
        const auto part = twtest::total_row(run.out);
        const auto whole = twtest::total_row(run_on({"-n"}, plain).out);
        ASSERT_TRUE(part && whole) << run.out;
        EXPECT_GT(part->packets, 0u);
        EXPECT_LT(part->packets, whole->packets);
    }
}

// Standard input goes to libpcap as it is, which knows no compression.
TEST_P(CompressedCapture, StandardInputIsNotDecompressed) {
    const bytes packed = twgen::read_file(twtest::pack(GetParam(), generated(dir_, "pcap")));
    twtest::run_options options;
    options.input.assign(packed.begin(), packed.end());
    const twtest::sigpipe_ignored guard;
    const auto run = twtest::run_tallywire({"-n", "-r", "-"}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("pcap_open(): ")) << run.err;
}

// A pcap of identical small frames that expands to over a hundred
// megabytes: memory stays that of a small file.
TEST_P(CompressedCapture, ExpansionDoesNotGrowMemory) {
    constexpr std::uint32_t frame_count = 1'500'000;
    const twgen::mac_address a = {0x02, 0, 0, 0, 0, 1};
    const twgen::mac_address b = {0x02, 0, 0, 0, 0, 2};
    const bytes frame = twgen::ethernet(
        a, b, twgen::ethertype_ipv4,
        twgen::ipv4(twgen::ipv4_address("10.0.0.1"), twgen::ipv4_address("10.0.0.2"),
                    twgen::ip_udp, twgen::udp(53, 53, 18)));
    // The file header and the one record of a single-frame file, written
    // by libpcap; the record is then repeated.
    const std::string single = dir_.file("single.pcap");
    twgen::frame one;
    one.bytes = frame;
    twgen::write_pcap(single, DLT_EN10MB, 65535, std::vector<twgen::frame>{one});
    const bytes image = twgen::read_file(single);
    const std::span<const std::uint8_t> header = std::span(image).first(24);
    const std::span<const std::uint8_t> record = std::span(image).subspan(24);
    const auto length = static_cast<std::uint32_t>(frame.size());

    const std::string packed = dir_.file(std::string("expanding.pcap") + GetParam().suffix);
    twtest::pack_stream(GetParam(), packed, [&](std::FILE* pipe) {
        std::fwrite(header.data(), 1, header.size(), pipe);
        for (std::uint32_t i = 0; i < frame_count; ++i) {
            std::fwrite(record.data(), 1, record.size(), pipe);
        }
    });
    const auto run = run_on({"-n"}, packed);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(twtest::total_row(run.out),
              (twtest::total_counts{frame_count, std::uint64_t{frame_count} * length}));
    EXPECT_LT(run.max_rss_kib, bounded_rss_kib);
}

// A snoop record of a quarter gigabyte, between two small ones: it is
// counted with its wire length, and never held in memory whole.
TEST_P(CompressedCapture, HugeSnoopRecordIsReadInBoundedMemory) {
    constexpr std::uint32_t huge_body = 256u << 20;
    const twgen::mac_address a = {0x02, 0, 0, 0, 0, 1};
    const twgen::mac_address b = {0x02, 0, 0, 0, 0, 2};
    twgen::frame small;
    small.bytes = twgen::ethernet(a, b, twgen::ethertype_arp,
                                  twgen::arp(1, twgen::ipv4_address("10.0.0.1"),
                                             twgen::ipv4_address("10.0.0.2")));
    const bytes image = twgen::snoop_image(std::vector<twgen::frame>{small});
    const std::span<const std::uint8_t> file_header = std::span(image).first(16);
    const std::span<const std::uint8_t> small_record = std::span(image).subspan(16);
    bytes huge_header(24, 0);
    const auto put_be32 = [&](std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            huge_header[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        }
    };
    put_be32(0, huge_body);
    put_be32(4, huge_body);
    put_be32(8, 24 + huge_body);
    bytes huge_start = small.bytes;  // an ARP frame, then zeros
    const bytes zeros(1 << 20, 0);

    const std::string packed = dir_.file(std::string("huge.snoop") + GetParam().suffix);
    twtest::pack_stream(GetParam(), packed, [&](std::FILE* pipe) {
        std::fwrite(file_header.data(), 1, file_header.size(), pipe);
        std::fwrite(small_record.data(), 1, small_record.size(), pipe);
        std::fwrite(huge_header.data(), 1, huge_header.size(), pipe);
        std::fwrite(huge_start.data(), 1, huge_start.size(), pipe);
        std::size_t left = huge_body - huge_start.size();
        for (; left >= zeros.size(); left -= zeros.size()) {
            std::fwrite(zeros.data(), 1, zeros.size(), pipe);
        }
        std::fwrite(zeros.data(), 1, left, pipe);
        std::fwrite(small_record.data(), 1, small_record.size(), pipe);
    });
    const auto run = run_on({"-S", "l", "-n"}, packed);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(twtest::total_row(run.out),
              (twtest::total_counts{3, 2 * small.bytes.size() + huge_body}));
    EXPECT_LT(run.max_rss_kib, bounded_rss_kib);
}

INSTANTIATE_TEST_SUITE_P(Packers, CompressedCapture,
                         ::testing::Values(twtest::gzip_packer, twtest::zstd_packer),
                         [](const auto& info) { return std::string(info.param.name); });

// Damage inside the compressed data, named by the decompressor.
class DamagedCompression : public ::testing::Test {
protected:
    void SetUp() override {
        for (const packer& p : {twtest::gzip_packer, twtest::zstd_packer}) {
            const std::string why = twtest::packer_missing(p);
            if (!why.empty()) {
                GTEST_SKIP() << why;
            }
        }
        plain_ = generated(dir_, "pcap");
    }

    twtest::run_result run_damaged(const packer& p, void (*spoil)(bytes&)) {
        bytes packed = twgen::read_file(twtest::pack(p, plain_));
        spoil(packed);
        path_ = dir_.file(std::string("damaged") + p.suffix);
        twgen::write_file(path_, packed);
        return run_on({"-n"}, path_);
    }

    twtest::temp_dir dir_;
    std::string plain_;
    std::string path_;
};

TEST_F(DamagedCompression, HeaderThatIsNotValidIsOne) {
    // Reserved bits: the gzip header's flags, the zstd frame descriptor's.
    auto run = run_damaged(twtest::gzip_packer, [](bytes& b) { b[3] |= 0xe0; });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, path_ + ": gzip: unknown header flags set\n");

    run = run_damaged(twtest::zstd_packer, [](bytes& b) { b[4] |= 0x08; });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, path_ + ": zstd: Unsupported frame parameter\n");
}

TEST_F(DamagedCompression, BadBlockIsOne) {
    // The first deflate block after the header and the file name, marked
    // with the reserved block type.
    const auto run = run_damaged(twtest::gzip_packer, [](bytes& b) {
        std::size_t start = 10;
        if ((b[3] & 0x08) != 0) {
            start = static_cast<std::size_t>(std::find(b.begin() + 10, b.end(), 0) - b.begin()) + 1;
        }
        b[start] = 0x07;
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, path_ + ": gzip: invalid block type\n");
}

// A check that fails after every byte was decoded: gzip's trailer follows
// all its data, so the whole report comes before the status 2.
TEST_F(DamagedCompression, FailedCheckAfterTheDataIsTwo) {
    const auto run = run_damaged(twtest::gzip_packer, [](bytes& b) { b[b.size() - 8] ^= 0xff; });
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, path_ + ": gzip: incorrect data check\n");
    EXPECT_EQ(run.out, run_on({"-n"}, plain_).out);

    const auto zstd = run_damaged(twtest::zstd_packer, [](bytes& b) { b.back() ^= 0xff; });
    EXPECT_EQ(zstd.status, 2);
    EXPECT_EQ(zstd.err, path_ + ": zstd: Restored data doesn't match checksum\n");
    EXPECT_TRUE(twtest::total_row(zstd.out)) << zstd.out;
}

}  // namespace
