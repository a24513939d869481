// --merge of reports of intervals: the intervals of parts add up to the
// intervals of one run over all their frames, byte for byte, also into
// longer intervals; what cannot be added is refused with the part's place.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "support/process.h"

namespace {

twtest::run_options on_standard_input(const std::string& text) {
    twtest::run_options options;
    options.input = text;
    return options;
}

twgen::generated_capture spread_capture() {
    twgen::mix_options mix;
    mix.frames = 5000;
    mix.seed = 5;
    mix.hosts = 50;
    mix.rate = 800;
    mix.pause_every = 1200;
    mix.pause_microseconds = 2'300'000;
    mix.weights.ipv6_ext = 5;
    return twgen::generate_mix(mix);
}

enum class cut { consecutive, interleaved };

struct interval_merge_case {
    const char* what;
    cut how;
    std::size_t parts;
    std::string part_interval;   // the parts' --interval
    std::string merge_interval;  // the merge's, empty for none
    std::vector<std::string> counts;
    std::string format;
};

void PrintTo(const interval_merge_case& c, std::ostream* out) { *out << c.what; }

class IntervalMerge : public ::testing::TestWithParam<interval_merge_case> {};

TEST_P(IntervalMerge, PartsAddUpToTheWholeRunsIntervals) {
    const interval_merge_case& c = GetParam();
    const twgen::generated_capture capture = spread_capture();
    twtest::temp_dir dir;
    // Rotated files of one probe (consecutive), or probes that each saw
    // some of the frames (interleaved): each part in time order.
    std::vector<std::vector<twgen::frame>> parts(c.parts);
    for (std::size_t i = 0; i < capture.frames.size(); ++i) {
        const std::size_t part = c.how == cut::consecutive ? i * c.parts / capture.frames.size()
                                                           : i % c.parts;
        parts[part].push_back(capture.frames[i]);
    }
    std::string documents;
    for (std::size_t part = 0; part < c.parts; ++part) {
        const std::string file = dir.file("part" + std::to_string(part) + ".pcap");
        twgen::write_pcap(file, 1, 65535, parts[part]);
        std::vector<std::string> args = c.counts;
        args.insert(args.end(), {"--interval=" + c.part_interval, "--format=json", "-r", file});
        const auto run = twtest::run_tallywire(args);
        ASSERT_EQ(run.status, 0) << run.err;
        documents += run.out;
    }
    twgen::write_pcap(dir.file("whole.pcap"), 1, 65535, capture.frames);
    std::vector<std::string> whole_args = c.counts;
    whole_args.insert(whole_args.end(),
                      {"--interval=" + (c.merge_interval.empty() ? c.part_interval
                                                                 : c.merge_interval),
                       "--format=" + c.format, "-r", dir.file("whole.pcap")});
    const auto whole = twtest::run_tallywire(whole_args);
    ASSERT_EQ(whole.status, 0) << whole.err;

    std::vector<std::string> merge_args = {"--merge=-", "-n", "--format=" + c.format};
    if (!c.merge_interval.empty()) {
        merge_args.push_back("--interval=" + c.merge_interval);
    }
    const auto merged = twtest::run_tallywire(merge_args, on_standard_input(documents));
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.err, whole.err);
    EXPECT_EQ(merged.out, whole.out);
    EXPECT_GT(whole.out.size(), 1000u);
}

INSTANTIATE_TEST_SUITE_P(
    PartsAndLengths, IntervalMerge,
    ::testing::Values(
        interval_merge_case{"rotated files, text", cut::consecutive, 3, "1", "",
                            {"-n", "-S", "a"}, "text"},
        interval_merge_case{"two probes, JSON, sides apart", cut::interleaved, 2, "500ms", "",
                            {"-n", "-S", "a", "-d"}, "json"},
        interval_merge_case{"four probes, CSV, IPv6", cut::interleaved, 4, "1", "",
                            {"-n", "-S", "a", "--ipv6"}, "csv"},
        interval_merge_case{"seconds into ten seconds", cut::interleaved, 3, "1", "10",
                            {"-n", "-S", "ph"}, "json"},
        interval_merge_case{"250ms into a minute, text", cut::consecutive, 2, "250ms", "1m",
                            {"-n", "-S", "a"}, "text"}));

// About two seconds of frames, as reports of intervals of length.
std::string intervals_of(const std::string& length) {
    twtest::temp_dir dir;
    twgen::mix_options mix;
    mix.frames = 200;
    mix.rate = 100;
    twgen::write_pcap(dir.file("a.pcap"), 1, 65535, twgen::generate_mix(mix).frames);
    return twtest::run_tallywire({"-n", "-S", "p", "--interval=" + length, "--format=json", "-r",
                                  dir.file("a.pcap")})
        .out;
}

const std::string& interval_document() {
    static const std::string documents = intervals_of("1");  // two documents
    return documents;
}

std::string replaced_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(IntervalMerge, PartialAndLateCarryIntoTheSum) {
    const std::string& part = interval_document();
    const std::string marked = replaced_all(
        replaced_all(part, "\"partial\":false", "\"partial\":true"), "\"late\":0", "\"late\":3");
    const std::string once_late = replaced_all(part, "\"late\":0", "\"late\":2");
    const auto merged = twtest::run_tallywire({"--merge=-", "-n", "--format=json"},
                                              on_standard_input(part + marked + once_late));
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_NE(merged.out.find("\"partial\":true,\"late\":5"), std::string::npos) << merged.out;
    EXPECT_EQ(merged.out.find("\"partial\":false"), std::string::npos) << merged.out;
    const auto text = twtest::run_tallywire({"--merge=-", "-n"},
                                            on_standard_input(part + marked + once_late));
    EXPECT_NE(text.out.find(" (partial)\n"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("holds 5 frames that came after it had closed"), std::string::npos)
        << text.err;
}

struct interval_refusal {
    const char* what;
    std::string input;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const interval_refusal& c, std::ostream* out) { *out << c.what; }

class IntervalMergeRefusal : public ::testing::TestWithParam<interval_refusal> {};

TEST_P(IntervalMergeRefusal, NamesThePartAndPrintsNothing) {
    std::vector<std::string> args = GetParam().args;
    args.push_back("--merge=-");
    const auto run = twtest::run_tallywire(args, on_standard_input(GetParam().input));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, GetParam().message);
}

std::string whole_run_document() {
    twtest::temp_dir dir;
    twgen::write_pcap(dir.file("a.pcap"), 1, 65535, twgen::generate_mix({}).frames);
    return twtest::run_tallywire({"-n", "-S", "p", "--format=json", "-r", dir.file("a.pcap")}).out;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

INSTANTIATE_TEST_SUITE_P(
    Refusals, IntervalMergeRefusal,
    ::testing::Values(
        interval_refusal{"a whole run after intervals", interval_document() + whole_run_document(),
                         {},
                         "tallywire: --merge: part 3: a report of a whole run among reports of "
                         "intervals\n"},
        interval_refusal{"intervals after a whole run", whole_run_document() + interval_document(),
                         {},
                         "tallywire: --merge: part 2: a report of an interval among reports of "
                         "whole runs\n"},
        interval_refusal{"a length that is no multiple", interval_document(), {"--interval=1500ms"},
                         "tallywire: --merge: part 1: its intervals of 1000 ms do not add up "
                         "into --interval's of 1500 ms: not a multiple\n"},
        interval_refusal{"re-binning a whole run", whole_run_document(), {"--interval=10"},
                         "tallywire: --merge: part 1: a report of a whole run: --interval "
                         "re-bins reports of intervals\n"},
        interval_refusal{"lengths that differ", interval_document() + intervals_of("2"), {},
                         "tallywire: --merge: part 3: its intervals of 2000 ms differ from part "
                         "1's of 1000 ms; --interval can add both into longer ones\n"},
        interval_refusal{"an interval out of its alignment",
                         replaced_all(first_line(interval_document()), ":21Z\"}", ":23Z\"}"),
                         {},
                         "tallywire: --merge: part 1: an interval that is no whole number of "
                         "milliseconds aligned to its length\n"},
        interval_refusal{"a bound that does not parse",
                         replaced_all(first_line(interval_document()), "T", " "),
                         {},
                         "tallywire: --merge: part 1: an interval bound \"2023-11-14 22:13:20Z\" "
                         "that does not parse\n"}));

}  // namespace
