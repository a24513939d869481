// Frames out of time order under --interval: late by less than an
// interval they count in their own, later they count in the oldest interval
// still open, which says how many it holds; none is dropped.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "support/json_lines.h"
#include "support/process.h"

namespace {

using twtest::member_text;

constexpr std::int64_t base = 1700000000;  // a whole hour plus 800 s
constexpr std::int64_t year = 365 * 86400;

struct stamp {
    std::int64_t seconds;
    std::int64_t microseconds;
};

// An interval the run must report with frames in it, by its place after
// the first frame's interval.
struct busy_interval {
    std::int64_t offset;
    std::uint64_t packets;
    std::uint64_t late;
};

struct order_case {
    const char* what;
    const char* interval;
    std::vector<stamp> frames;
    std::vector<busy_interval> busy;
    std::size_t intervals;  // every one reported, quiet ones too
};

void PrintTo(const order_case& c, std::ostream* out) { *out << c.what; }

class LateFrames : public ::testing::TestWithParam<order_case> {};

TEST_P(LateFrames, CountInTheirOwnOrTheOldestOpenInterval) {
    const order_case& c = GetParam();
    twgen::mix_options mix;
    mix.frames = c.frames.size();
    twgen::generated_capture capture = twgen::generate_mix(mix);
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
        capture.frames[i].seconds = c.frames[i].seconds;
        capture.frames[i].microseconds = c.frames[i].microseconds;
    }
    twtest::temp_dir dir;
    twgen::write_pcap(dir.file("order.pcap"), 1, 65535, capture.frames);

    const auto json = twtest::run_tallywire({"-n", "--interval=" + std::string(c.interval),
                                             "--format=json", "-r", dir.file("order.pcap")});
    ASSERT_EQ(json.status, 0) << json.err;
    std::istringstream lines(json.out);
    std::string line;
    std::vector<std::string> documents;
    while (std::getline(lines, line)) {
        documents.push_back(line);
    }
    ASSERT_EQ(documents.size(), c.intervals);
    std::uint64_t counted = 0;
    std::size_t busy_seen = 0;
    for (std::size_t at = 0; at < documents.size(); ++at) {
        const std::string& document = documents[at];
        const std::uint64_t packets = std::stoull(member_text(document, "packets"));
        const std::uint64_t late = std::stoull(member_text(document, "late"));
        counted += packets;
        if (packets == 0) {
            EXPECT_EQ(late, 0u);
            continue;
        }
        ASSERT_LT(busy_seen, c.busy.size()) << document;
        const busy_interval& want = c.busy[busy_seen++];
        EXPECT_EQ(at, static_cast<std::size_t>(want.offset)) << document;
        EXPECT_EQ(packets, want.packets) << document;
        EXPECT_EQ(late, want.late) << document;
        EXPECT_EQ(member_text(document, "partial"), "false");
    }
    EXPECT_EQ(busy_seen, c.busy.size());
    EXPECT_EQ(counted, c.frames.size()) << "a frame dropped for its time";

    // Text and CSV tell the late frames on standard error, one line per
    // interval that holds any.
    std::size_t late_intervals = 0;
    for (const busy_interval& interval : c.busy) {
        late_intervals += interval.late != 0 ? 1 : 0;
    }
    for (const char* format : {"text", "csv"}) {
        const auto run = twtest::run_tallywire({"-n", "--interval=" + std::string(c.interval),
                                                std::string("--format=") + format, "-r",
                                                dir.file("order.pcap")});
        ASSERT_EQ(run.status, 0) << run.err;
        std::size_t told = 0;
        for (std::size_t at = run.err.find("came after it had closed"); at != std::string::npos;
             at = run.err.find("came after it had closed", at + 1)) {
            ++told;
        }
        EXPECT_EQ(told, late_intervals) << format << ": " << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, LateFrames,
    ::testing::Values(
        order_case{"in order", "1",
                   {{base, 200000}, {base, 900000}, {base + 1, 100000}, {base + 3, 0}},
                   {{0, 2, 0}, {1, 1, 0}, {3, 1, 0}}, 4},
        order_case{"late by less than an interval", "1",
                   {{base, 200000}, {base + 1, 100000}, {base, 900000}, {base + 1, 500000}},
                   {{0, 2, 0}, {1, 2, 0}}, 2},
        order_case{"late by more than an interval", "1",
                   {{base, 200000}, {base + 1, 100000}, {base + 2, 300000}, {base, 500000}},
                   {{0, 1, 0}, {1, 2, 1}, {2, 1, 0}}, 3},
        order_case{"before the first frame's interval", "500ms",
                   {{base, 700000}, {base, 300000}, {base, 800000}},
                   {{0, 1, 0}, {1, 2, 0}}, 2},
        order_case{"stamped in 1970", "1",
                   {{base, 200000}, {base, 400000}, {1, 0}, {base, 600000}},
                   {{0, 4, 1}}, 1},
        order_case{"a year ahead, then back", "1h",
                   {{base, 200000}, {base + 10, 0}, {base + year, 0}, {base + 20, 0},
                    {base + year + 5, 0}},
                   {{0, 2, 0}, {8759, 1, 1}, {8760, 2, 0}}, 8761}));

}  // namespace
