// Reports per interval (--interval) of generated traffic spread over time,
// through the real binary: each interval's text against the report worked
// out from the frames the fact record puts in it, and each interval's JSON
// and CSV against a whole run over those frames alone.

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "mix_oracle.h"
#include "support/process.h"

namespace {

using report_test::expected_report;
using report_test::oracle_settings;
using report_test::report_matches;

struct interval_case {
    const char* what;
    std::string interval;  // as --interval takes it
    std::int64_t length_us;
    twgen::mix_options mix;
    std::vector<std::string> options;  // before -r
    oracle_settings expected;
    int max_lines = -1;
};

void PrintTo(const interval_case& c, std::ostream* out) { *out << c.what; }

twgen::mix_options spread(std::uint64_t frames, std::int64_t start, std::uint32_t rate,
                          std::uint64_t pause_every, std::int64_t pause_us) {
    twgen::mix_options mix;
    mix.frames = frames;
    mix.hosts = 40;
    mix.ports = 30;
    mix.seed = 11;
    mix.start_seconds = start;
    mix.rate = rate;
    mix.pause_every = pause_every;
    mix.pause_microseconds = pause_us;
    return mix;
}

std::int64_t time_of(const twgen::frame_fact& fact) {
    return fact.seconds * 1'000'000 + fact.microseconds;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}

// ISO 8601 in UTC by the C library, with the decimals the length needs.
std::string iso_time(std::int64_t us, std::int64_t length_us) {
    const time_t seconds = static_cast<time_t>(floor_div(us, 1'000'000));
    tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string out = text;
    const std::int64_t fraction = us - static_cast<std::int64_t>(seconds) * 1'000'000;
    int decimals = length_us % 1'000'000 == 0 ? 0 : length_us % 100'000 == 0 ? 1
                   : length_us % 10'000 == 0   ? 2
                                               : 3;
    if (decimals > 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(fraction));
        out += "." + std::string(digits, static_cast<std::size_t>(decimals));
    }
    return out + "Z";
}

// The frames of each interval from the first frame's to the last's, by index.
std::map<std::int64_t, std::vector<std::size_t>> frames_by_interval(
    const std::vector<twgen::frame_fact>& facts, std::int64_t length_us) {
    std::map<std::int64_t, std::vector<std::size_t>> out;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        out[floor_div(time_of(facts[i]), length_us)].push_back(i);
    }
    const std::int64_t first = out.begin()->first;
    const std::int64_t last = out.rbegin()->first;
    for (std::int64_t index = first; index <= last; ++index) {
        out[index];  // quiet intervals too
    }
    return out;
}

// The report's lines cut at each "Interval " line: (that line, the rest).
std::vector<std::pair<std::string, std::string>> interval_chunks(const std::string& report) {
    std::vector<std::pair<std::string, std::string>> chunks;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Interval ", 0) == 0) {
            chunks.push_back({line, ""});
        } else if (!chunks.empty()) {
            chunks.back().second += line + "\n";
        } else {
            chunks.push_back({"", line + "\n"});
        }
    }
    return chunks;
}

class IntervalReport : public ::testing::TestWithParam<interval_case> {
protected:
    void SetUp() override {
        const interval_case& c = GetParam();
        capture_ = twgen::generate_mix(c.mix);
        path_ = dir_.file("spread.pcap");
        twgen::write_pcap(path_, c.mix.datalink, c.mix.snap_length, capture_.frames);
        groups_ = frames_by_interval(capture_.facts, c.length_us);
    }

    std::vector<std::string> args(const std::string& format, const std::string& file) const {
        std::vector<std::string> out = GetParam().options;
        if (!format.empty()) {
            out.push_back("--format=" + format);
        }
        out.push_back("-r");
        out.push_back(file);
        return out;
    }

    // A whole run over the frames of one interval alone.
    twtest::run_result run_over(const std::vector<std::size_t>& frames, const std::string& format) {
        std::vector<twgen::frame> part;
        for (const std::size_t i : frames) {
            part.push_back(capture_.frames[i]);
        }
        const std::string file = dir_.file("part.pcap");
        twgen::write_pcap(file, GetParam().mix.datalink, GetParam().mix.snap_length, part);
        return twtest::run_tallywire(args(format, file));
    }

    std::string mark(std::int64_t index) const {
        const std::int64_t length = GetParam().length_us;
        return iso_time(index * length, length) + "/" + iso_time((index + 1) * length, length);
    }

    twtest::temp_dir dir_;
    twgen::generated_capture capture_;
    std::string path_;
    std::map<std::int64_t, std::vector<std::size_t>> groups_;
};

TEST_P(IntervalReport, TextMatchesTheFactsOfEachInterval) {
    const interval_case& c = GetParam();
    std::vector<std::string> arguments = args("", path_);
    arguments.insert(arguments.begin(), "--interval=" + c.interval);
    const auto run = twtest::run_tallywire(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto chunks = interval_chunks(run.out);
    ASSERT_EQ(chunks.size(), groups_.size()) << run.out.substr(0, 2000);
    std::size_t at = 0;
    std::size_t quiet = 0;
    for (const auto& [index, frames] : groups_) {
        const auto& [line, body] = chunks[at++];
        EXPECT_EQ(line, "Interval " + mark(index) + ":");
        if (frames.empty()) {
            EXPECT_EQ(body, "") << line;
            ++quiet;
            continue;
        }
        std::vector<twgen::frame_fact> facts;
        for (const std::size_t i : frames) {
            facts.push_back(capture_.facts[i]);
        }
        EXPECT_TRUE(report_matches(body, expected_report(facts, c.expected), c.max_lines))
            << line;
    }
    if (c.mix.pause_every != 0) {
        EXPECT_GT(quiet, 0u) << "the pauses left no interval without frames";
    }
}

TEST_P(IntervalReport, JsonLinesAreTheWholeRunsOfEachInterval) {
    const interval_case& c = GetParam();
    std::vector<std::string> arguments = args("json", path_);
    arguments.insert(arguments.begin(), "--interval=" + c.interval);
    const auto run = twtest::run_tallywire(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::size_t checked = 0;
    for (const auto& [index, frames] : groups_) {
        ASSERT_TRUE(std::getline(lines, line)) << "no document for " << mark(index);
        if (checked++ > 40 && !frames.empty() && checked % 16 != 0) {
            continue;  // many intervals: a sample of them
        }
        std::string whole = run_over(frames, "json").out;
        std::erase(whole, '\n');
        const std::string at = "\"format\":1,";
        const std::string slash = "/";
        const std::string bounds = mark(index);
        whole.insert(whole.find(at) + at.size(),
                     "\"interval\":{\"start\":\"" + bounds.substr(0, bounds.find(slash)) +
                         "\",\"end\":\"" + bounds.substr(bounds.find(slash) + 1) +
                         "\"},\"partial\":false,\"late\":0,");
        EXPECT_EQ(line, whole);
    }
    EXPECT_FALSE(std::getline(lines, line)) << "a document too many: " << line;
}

TEST_P(IntervalReport, CsvLinesAreTheWholeRunsOfEachIntervalUnderOneHeader) {
    const interval_case& c = GetParam();
    std::vector<std::string> arguments = args("csv", path_);
    arguments.insert(arguments.begin(), "--interval=" + c.interval);
    const auto run = twtest::run_tallywire(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected;
    std::size_t sampled = 0;
    std::string sampled_out;
    for (const auto& [index, frames] : groups_) {
        if (frames.empty()) {
            continue;  // a quiet interval has no lines
        }
        const std::string whole = run_over(frames, "csv").out;
        if (expected.empty()) {
            expected = "start,end," + whole.substr(0, whole.find("\r\n") + 2);
        }
        std::string bounds = mark(index);
        bounds[bounds.find('/')] = ',';
        std::istringstream rows(whole.substr(whole.find("\r\n") + 2));
        std::string row;
        while (std::getline(rows, row)) {
            expected += bounds + "," + row + "\n";
        }
        if (++sampled == 60) {
            break;  // many intervals: the first of them
        }
    }
    EXPECT_EQ(run.out.substr(0, expected.size()), expected);
}

constexpr std::uint32_t all_kinds = 0x3f;

interval_case with(const char* what, std::string interval, std::int64_t length_us,
                   twgen::mix_options mix, std::vector<std::string> options,
                   oracle_settings expected, int max_lines = -1) {
    return {what, std::move(interval), length_us, mix, std::move(options), expected, max_lines};
}

INSTANTIATE_TEST_SUITE_P(
    LengthsAndSettings, IntervalReport,
    ::testing::Values(
        // About one frame a millisecond: many intervals hold none.
        with("1ms", "1ms", 1000, spread(300, 1700000000, 700, 0, 0), {"-n", "-S", "a"},
             {all_kinds, false, true}),
        with("250ms with pauses", "250ms", 250'000, spread(3000, 1700000000, 2000, 700, 900'000),
             {"-n", "-S", "a", "-d"}, {all_kinds, true, true}),
        with("seconds, cut by -t", "1", 1'000'000, spread(4000, 1700000000, 1500, 1000, 2'500'000),
             {"-n", "-S", "ph", "-t", "3"}, {1 | 8 | 16, false, true}, 3),
        with("a minute", "1m", 60'000'000, spread(3000, 1700000000, 20, 600, 70'000'000),
             {"-n", "-S", "a", "--ipv6"}, {all_kinds, false, true, false, true}),
        with("an hour across its turn", "1h", 3'600'000'000LL,
             spread(2000, 1700006390, 100, 500, 5'000'000'000LL),
             {"-n", "-S", "lip"}, {1 | 2 | 4 | 8, false, true})));

TEST(IntervalOption, RefusesLengthsItCannotCut) {
    twtest::temp_dir dir;
    for (const char* bad : {"0", "0.5ms", "1.0005s", "10x", "", "ms", "-1", "1..5", "1e3"}) {
        const auto run = twtest::run_tallywire({std::string("--interval=") + bad, "-r", "/nonexistent"});
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(run.out, "") << bad;
        EXPECT_NE(run.err.find("--interval"), std::string::npos) << bad << ": " << run.err;
    }
}

TEST(IntervalOption, AWholeRunsReportIsUnchangedWithoutIt) {
    twtest::temp_dir dir;
    const auto capture = twgen::generate_mix(spread(500, 1700000000, 100, 0, 0));
    twgen::write_pcap(dir.file("a.pcap"), 1, 65535, capture.frames);
    for (const char* format : {"text", "json", "csv"}) {
        const auto whole = twtest::run_tallywire(
            {"-n", "-S", "a", std::string("--format=") + format, "-r", dir.file("a.pcap")});
        const auto hours = twtest::run_tallywire({"-n", "-S", "a", "--interval=24h",
                                                  std::string("--format=") + format, "-r",
                                                  dir.file("a.pcap")});
        // The frames all fall in one day: one interval, the whole run's counts.
        EXPECT_EQ(whole.status, 0);
        EXPECT_NE(hours.out, whole.out);
        if (std::string(format) == "text") {
            EXPECT_EQ(hours.out.substr(hours.out.find('\n') + 1), whole.out);
        }
    }
}

}  // namespace
