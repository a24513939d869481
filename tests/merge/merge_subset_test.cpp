// A merge that asks for fewer statistics than its parts counted reports
// those of the sum, as a run that counted only them; asking for one the
// parts lack is refused.

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "support/process.h"

namespace {

class MergeSubset : public ::testing::Test {
protected:
    void SetUp() override {
        twgen::mix_options mix;
        mix.frames = 2000;
        mix.seed = 3;
        const std::vector<twgen::frame> frames = twgen::generate_mix(mix).frames;
        const auto middle = frames.begin() + static_cast<std::ptrdiff_t>(frames.size() / 3);
        twgen::write_pcap(whole_, DLT_EN10MB, mix.snap_length, frames);
        twgen::write_pcap(first_, DLT_EN10MB, mix.snap_length, {frames.begin(), middle});
        twgen::write_pcap(second_, DLT_EN10MB, mix.snap_length, {middle, frames.end()});
        for (const std::string& part : {first_, second_}) {
            parts_ += twtest::run_tallywire({"-n", "-S", "pnh", "-d", "--format=json", "-r", part})
                          .out;
        }
    }

    twtest::run_result merge(std::vector<std::string> args) const {
        args.push_back("--merge=-");
        twtest::run_options input;
        input.input = parts_;
        return twtest::run_tallywire(args, input);
    }

    twtest::temp_dir dir_;
    std::string whole_ = dir_.file("whole.pcap");
    std::string first_ = dir_.file("first.pcap");
    std::string second_ = dir_.file("second.pcap");
    std::string parts_;
};

TEST_F(MergeSubset, FewerKindsAreThoseOfTheSum) {
    for (const std::string letters : {"p", "h", "np"}) {
        for (const std::string format : {"text", "json"}) {
            const twtest::run_result merged = merge({"-n", "-S", letters, "--format=" + format});
            const twtest::run_result run = twtest::run_tallywire(
                {"-n", "-d", "-S", letters, "--format=" + format, "-r", whole_});
            EXPECT_EQ(merged.status, 0) << merged.err;
            EXPECT_EQ(merged.out, run.out) << "-S " << letters << " " << format;
        }
    }
}

TEST_F(MergeSubset, AKindThePartsLackIsRefused) {
    const twtest::run_result merged = merge({"-n", "-S", "pi"});
    EXPECT_EQ(merged.status, 1);
    EXPECT_EQ(merged.out, "");
    EXPECT_EQ(merged.err,
              "tallywire: --merge: part 1: its -S (the statistics collected) differs from the "
              "command line's\n");
}

}  // namespace
