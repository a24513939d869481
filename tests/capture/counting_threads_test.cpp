// Counting on several threads: the report of --threads=2, 3 and 7 is the
// report of --threads=1, byte for byte, in every format and under every
// counting option, ties included; on the sample capture, the generator's
// captures of several link types, pcapng files of mixed link types,
// compressed captures (read through a buffer, their frames copied into the
// batches), filtered runs and a file damaged after its first frames.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_images.h"
#include "capture/compressed_files.h"
#include "capture/source_test_support.h"
#include "gen/capture_writer.h"
#include "support/process.h"

namespace {

const std::vector<std::vector<std::string>> option_sets = {
    {"-S", "a", "-n"},
    {"-S", "a", "-n", "-d", "--ipv6", "--look-through"},
    {"-S", "a", "-n", "--format=json"},
    {"-S", "pih", "-n", "-t", "7", "--format=csv", "-R"},
    {"-S", "a", "-n", "-f", "tcp or ip6"},
};

class CountingThreads : public ::testing::Test {
protected:
    std::string generated(const std::string& name, std::vector<std::string> args) {
        const std::string path = dir_.file(name);
        args.insert(args.begin(), {"-o", path});
        const auto run = twtest::run_program(TALLYWIRE_GEN_BINARY, args);
        EXPECT_EQ(run.status, 0) << run.err;
        return path;
    }

    static void expect_same_reports(const std::string& path) {
        for (const auto& options : option_sets) {
            auto args = options;
            args.insert(args.end(), {"--threads=1", "-r", path});
            const auto one = twtest::run_tallywire(args);
            EXPECT_NE(one.out, "") << path;
            for (const std::string threads : {"2", "3", "7"}) {
                SCOPED_TRACE(path + " --threads=" + threads + " " +
                             testing::PrintToString(options));
                args[options.size()] = "--threads=" + threads;
                const auto several = twtest::run_tallywire(args);
                EXPECT_EQ(several.status, one.status);
                EXPECT_TRUE(several.out == one.out) << several.out.substr(0, 400);
                EXPECT_EQ(several.err, one.err);
            }
        }
    }

    twtest::temp_dir dir_;
};

TEST_F(CountingThreads, SampleAndGeneratorCaptures) {
    expect_same_reports(std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap");
    // Many batches of frames, many hosts with equal byte counts.
    expect_same_reports(generated("ether.pcap", {"-n", "30000", "-H", "5000", "-S", "3"}));
    expect_same_reports(generated("sll.pcap", {"-n", "9000", "-l", "sll", "--ipv6-hosts", "300",
                                               "-w", "ipv6-ext=30", "-w", "dot1q=10", "-S", "4"}));
    expect_same_reports(generated("cut.pcap", {"-n", "5000", "-l", "raw", "--cut-frames"}));
}

TEST_F(CountingThreads, MixedLinkPcapng) {
    twtest::pcapng_image image(true);
    image.interface(1, 65535);
    image.interface(0, 65535);
    const auto frames = twtest::mixed_ethernet_frames();
    for (int round = 0; round < 500; ++round) {
        const auto& f = frames[static_cast<std::size_t>(round) % frames.size()];
        image.packet(static_cast<std::uint32_t>(round % 2), f.bytes,
                     static_cast<std::uint32_t>(f.bytes.size() + round), round);
    }
    const std::string path = dir_.file("mixed.pcapng");
    twgen::write_file(path, image.bytes);
    expect_same_reports(path);
}

TEST_F(CountingThreads, CompressedCaptures) {
    const std::string plain = generated("plain.pcap", {"-n", "20000", "-H", "3000", "-S", "6"});
    for (const twtest::packer& p : {twtest::gzip_packer, twtest::zstd_packer}) {
        if (!twtest::packer_missing(p).empty()) {
            continue;
        }
        expect_same_reports(twtest::pack(p, plain));
    }
}

// Damage after frames: the same message, the same report of the frames
// before it, status 2.
TEST_F(CountingThreads, DamagedFile) {
    auto image = twgen::read_file(generated("whole.pcap", {"-n", "10000", "-S", "7"}));
    image.resize(image.size() - 9);
    const std::string path = dir_.file("damaged.pcap");
    twgen::write_file(path, image);
    const auto one = twtest::run_tallywire({"-S", "a", "-n", "--threads=1", "-r", path});
    EXPECT_EQ(one.status, 2);
    expect_same_reports(path);
}

TEST(ThreadsOption, RefusesWhatIsNoCountOfThreads) {
    for (const std::string value : {"0", "-1", "x", "2x", "257", ""}) {
        const auto run = twtest::run_tallywire({"--threads=" + value, "-r", "x.pcap"});
        EXPECT_EQ(run.status, 1) << value;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("tallywire: --threads takes a number from 1 to 256, not '" +
                                        value + "'\n"))
            << run.err;
    }
}

}  // namespace
