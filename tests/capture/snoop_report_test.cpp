// Generated traffic written as snoop and as pcap gives the same frames and
// the same report: the snoop reader is a drop-in for libpcap on Ethernet.

#include <gtest/gtest.h>

#include "capture/sources.h"
#include "capture/source_test_support.h"
#include "gen/traffic_mix.h"
#include "cli/program_state.h"
#include "support/process.h"

using namespace tallywire;

namespace {

struct mix_case {
    const char* name;
    std::uint32_t seed;
    std::uint32_t snap_length;
    std::uint32_t max_length;
};

void PrintTo(const mix_case& c, std::ostream* out) { *out << c.name; }

class SnoopMatchesPcap : public ::testing::TestWithParam<mix_case> {
protected:
    void SetUp() override {
        twgen::mix_options options;
        options.frames = 4000;
        options.seed = GetParam().seed;
        options.snap_length = GetParam().snap_length;
        options.max_length = GetParam().max_length;
        const auto capture = twgen::generate_mix(options);
        frame_count_ = capture.frames.size();
        twgen::write_pcap(pcap_path_, 1, options.snap_length, capture.frames);
        twgen::write_snoop(snoop_path_, capture.frames, options.snap_length);
    }

    std::vector<twtest::seen_frame> frames_of(const std::string& path) {
        reset_program_state();
        std::vector<twtest::seen_frame> frames;
        EXPECT_EQ(capture_from_source(twtest::file_config(path), twtest::collect_frame, &frames),
                  0);
        return frames;
    }

    twtest::temp_dir dir_;
    std::string pcap_path_ = dir_.file("mix.pcap");
    std::string snoop_path_ = dir_.file("mix.snoop");
    std::size_t frame_count_ = 0;
};

TEST_P(SnoopMatchesPcap, FrameForFrame) {
    const auto from_pcap = frames_of(pcap_path_);
    const auto from_snoop = frames_of(snoop_path_);
    ASSERT_EQ(from_pcap.size(), frame_count_);
    ASSERT_EQ(from_snoop.size(), frame_count_);
    for (std::size_t i = 0; i < frame_count_; ++i) {
        ASSERT_EQ(from_snoop[i], from_pcap[i]) << "frame " << i;
    }
}

TEST_P(SnoopMatchesPcap, ReportForReport) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-S", "a", "-n"}, {"-S", "a", "-n", "-d"}}) {
        auto pcap_args = options;
        pcap_args.insert(pcap_args.end(), {"-r", pcap_path_});
        auto snoop_args = options;
        snoop_args.insert(snoop_args.end(), {"-r", snoop_path_});
        const auto from_pcap = twtest::run_tallywire(pcap_args);
        const auto from_snoop = twtest::run_tallywire(snoop_args);
        ASSERT_EQ(from_pcap.status, 0) << from_pcap.err;
        ASSERT_NE(from_pcap.out, "") << "the pcap copy gave no report to compare with";
        EXPECT_EQ(from_snoop.status, 0) << from_snoop.err;
        EXPECT_EQ(from_snoop.err, "");
        EXPECT_EQ(from_snoop.out, from_pcap.out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mixes, SnoopMatchesPcap,
    ::testing::Values(mix_case{"whole_frames", 1, 65535, 1514},
                      mix_case{"short_snap_length", 7, 96, 1514},
                      mix_case{"jumbo_frames", 11, 65535, 9000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
