// Words the program refuses: each ends the reading at once with the usage
// text and status 1, and nothing is opened or captured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

const std::string& usage_for_binary() {
    static const std::string text = [] {
        const twtest::run_result run = twtest::run_tallywire({"-h"});
        return run.err;
    }();
    return text;
}

struct refusal {
    const char* name;
    std::vector<std::string> args;
    bool getopt_speaks;  // getopt's own diagnostic comes before the usage text
    std::string reason = {};  // or this line of the program's own
};

std::string seconds_reason(const std::string& value) {
    return "tallywire: -s '" + value + "' is not a number of seconds above 0 (or -1 for no limit)\n";
}

void PrintTo(const refusal& c, std::ostream* out) { *out << c.name; }

class Refused : public ::testing::TestWithParam<refusal> {};

TEST_P(Refused, UsageOnStderrStatusOne) {
    const refusal& r = GetParam();
    const twtest::run_result run = twtest::run_tallywire(r.args);
    const std::string& usage = usage_for_binary();
    ASSERT_FALSE(usage.empty());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_GE(run.err.size(), usage.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - usage.size()), usage);
    const std::string before = run.err.substr(0, run.err.size() - usage.size());
    if (r.getopt_speaks && r.args[0].rfind("--", 0) == 0) {
        EXPECT_EQ(before, twtest::tallywire_path() + ": unrecognized option '" + r.args[0] + "'\n");
    } else if (r.getopt_speaks) {
        EXPECT_NE(before, "");
    } else {
        EXPECT_EQ(before, r.reason);
    }
}

// A source named before the refused word is never opened: it would leave a
// "pcap_open()" or "stat()" message behind.
INSTANTIATE_TEST_SUITE_P(
    Words, Refused,
    ::testing::Values(refusal{"question_mark", {"-?"}, false}, refusal{"h", {"-h"}, false},
                      refusal{"h_grouped_after_flags", {"-dn", "-h"}, false},
                      refusal{"h_inside_a_group", {"-dhn"}, false},
                      refusal{"unknown_letter", {"-x"}, true},
                      refusal{"unknown_capital", {"-D"}, true},
                      refusal{"unknown_after_source", {"-r", "/nonexistent/file.pcap", "-q"}, true},
                      refusal{"missing_t_argument", {"-t"}, true},
                      refusal{"missing_f_argument", {"-n", "-f"}, true},
                      refusal{"seconds_zero", {"-s", "0"}, false, seconds_reason("0")},
                      refusal{"seconds_zero_attached", {"-s0"}, false, seconds_reason("0")},
                      refusal{"seconds_minus_two", {"-s", "-2"}, false, seconds_reason("-2")},
                      refusal{"seconds_negative_fraction", {"-s", "-0.5"}, false, seconds_reason("-0.5")},
                      refusal{"seconds_text", {"-s", "abc"}, false, seconds_reason("abc")},
                      refusal{"seconds_empty", {"-s", ""}, false, seconds_reason("")},
                      refusal{"seconds_after_live_source", {"-i", "twnosuch0", "-s", "0"}, false, seconds_reason("0")},
                      refusal{"h_after_source", {"-r", "/nonexistent/file.pcap", "-h"}, false},
                      refusal{"unknown_long_option", {"--helpme"}, true},
                      refusal{"no_one_lookup_option", {"--one-lookup-at-a-time"}, true}),
    [](const ::testing::TestParamInfo<refusal>& info) { return std::string(info.param.name); });

TEST(FormatWord, OnlyTextCsvOrJson) {
    const twtest::run_result run = twtest::run_tallywire({"--format=xml", "-r", "x.pcap"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tallywire: --format takes text, csv or json, not 'xml'\n" + usage_for_binary());
}

// --merge reads counts, not frames: an option that chooses or shapes a
// capture beside it is refused with its reason alone.
TEST(MergeBesideACapture, RefusedWithoutTheUsageText) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--merge=-", "-i", "lo"}, {"-f", "tcp", "--merge=a.json"},
          {"--merge=-", "-s", "5"}}) {
        const twtest::run_result run = twtest::run_tallywire(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        const char letter = args[0] == "-f" ? 'f' : args[1][1];
        EXPECT_EQ(run.err, std::string("tallywire: --merge reads reports, not a capture: -") +
                               letter + " cannot stand beside it\n");
    }
}

}  // namespace
