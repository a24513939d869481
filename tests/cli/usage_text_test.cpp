// The usage text, byte for byte, as the real binary writes it for the name
// it was started under.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cli/usage.h"
#include "support/process.h"

using namespace tallywire;

namespace {

// The 23 lines of the text; "%s" stands for the base name in the first line
// and for the path as typed in the example line.
constexpr std::string_view usage_lines[] = {
    "Usage: %s [-?hnpR] [-f filter expr] [-i interface] [-P port]\t\t\n",
    "\t\t[-r file] [-s seconds] [-S letters] [-t lines]\t\t\n",
    "\t-?, -h \t\t- display this help\t\t\t\t\n",
    "\t-d\t\t- show source/dest statistics\t\t\t\n",
    "\t-f filter expr\t- tcpdump(1) filter expression\t\t\t\n",
    "\t-i interface\t- do live capture on [interface], not from file \n",
    "\t-n\t\t- don't resolve network numbers\t\t\t\n",
    "\t-p\t\t- non-promiscuous mode when doing live capture\t\n",
    "\t-P port\t\t- ignore port numbers >= port\t\t\t\n",
    "\t-r file\t\t- read tcpdump data from file\t\t\t\n",
    "\t-R\t\t- display only registered ports\t\t\t\n",
    "\t-s seconds\t- capture only [seconds] long\t\t\t\n",
    "\t-S letters\t- collect stats\t\t\t\t\t\n",
    "\t\ta\t\t- collect ALL stats\t\t\t\n",
    "\t\tl\t\t- collect link stats\t\t\t\n",
    "\t\ti\t\t- collect ip stats\t\t\t\n",
    "\t\tp\t\t- collect port stats\t\t\t\n",
    "\t\th\t\t- collect host stats\t\t\t\n",
    "\t\tn\t\t- collect network stats\t\t\t\n",
    "\t-t lines\t- show at most [lines] lines for each stat\t\n",
    "\t\t\t\t\t\t\t\t\t\n",
    "Example: %s -S ph -r data.dump\t\t\t\t\t\n",
    "\tDisplays port and host statistics from the file 'data.dump'\t\n",
};

std::string usage_format() {
    std::string format;
    for (const std::string_view line : usage_lines) {
        format += line;
    }
    return format;
}

std::string expected_usage(std::string_view base, std::string_view path) {
    std::string text = usage_format();
    text.replace(text.find("%s"), 2, base);
    text.replace(text.find("%s"), 2, path);
    return text;
}

TEST(UsageText, FormatHas932Characters) { EXPECT_EQ(usage_format().size(), 932u); }

struct started_as {
    const char* argv0;
    const char* base;
};

void PrintTo(const started_as& c, std::ostream* out) { *out << c.argv0; }

class UsageUnderName : public ::testing::TestWithParam<started_as> {};

// The first line names the program by its last component, the example line
// repeats the path exactly as it was typed.
TEST_P(UsageUnderName, FirstLineBaseNameExampleLinePath) {
    const started_as name = GetParam();
    twtest::run_options options;
    options.argv0 = name.argv0;
    const twtest::run_result run = twtest::run_tallywire({"-h"}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, expected_usage(name.base, name.argv0));
}

INSTANTIATE_TEST_SUITE_P(Names, UsageUnderName,
                         ::testing::Values(started_as{"tallywire", "tallywire"},
                                           started_as{"/usr/local/bin/tallywire", "tallywire"},
                                           started_as{"../build/src/tw", "tw"},
                                           started_as{"./tallywire", "tallywire"},
                                           started_as{"x", "x"}, started_as{"/", "/"},
                                           started_as{"bin/", ""}));

struct path_case {
    std::string_view path;
    std::string_view base;
};

TEST(BaseName, LastComponentOrWholeShortPath) {
    const path_case cases[] = {
        {"", ""},
        {"/", "/"},
        {"a", "a"},
        {"ab", "ab"},
        {"/ab", "ab"},
        {"a/b/c", "c"},
        {"dir/", ""},
        {"//x", "x"},
        {"/usr/bin/tallywire", "tallywire"},
        {"no-slash-here", "no-slash-here"},
    };
    for (const path_case& c : cases) {
        EXPECT_EQ(base_name(c.path), c.base) << "path \"" << c.path << "\"";
    }
}

// The base name is a view into the path given, not a copy.
TEST(BaseName, PointsIntoThePath) {
    const std::string path = "/opt/tw/bin/tallywire";
    const std::string_view base = base_name(path);
    EXPECT_EQ(base.data(), path.data() + path.rfind('/') + 1);
}

}  // namespace

namespace {

// GNU conventions: --help and --version on standard output, status 0; the
// help is the usage text followed by the long options.
TEST(LongOptions, HelpIsTheUsageTextThenTheLongOptions) {
    const twtest::run_result run = twtest::run_tallywire({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string usage = expected_usage("tallywire", twtest::tallywire_path());
    ASSERT_TRUE(run.out.starts_with(usage)) << run.out;
    const std::string long_options = run.out.substr(usage.size());
    for (const char* option : {"--help", "--version", "--look-through", "--ipv6"}) {
        EXPECT_NE(long_options.find(option), std::string::npos) << option;
    }
    EXPECT_NE(long_options.find("--look-through -S"), std::string::npos) << "an example of it";
    EXPECT_NE(long_options.find("--ipv6 -S"), std::string::npos) << "an example of it";
}

TEST(LongOptions, VersionNamesTheProgram) {
    const twtest::run_result run = twtest::run_tallywire({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.starts_with("tallywire ")) << run.out;
    EXPECT_EQ(run.out.back(), '\n');
}

// As an unknown letter: getopt_long's own diagnostic, then the usage text.
TEST(LongOptions, UnknownOrAmbiguousGetsTheUsageText) {
    const std::string usage = expected_usage("tallywire", twtest::tallywire_path());
    for (const char* word : {"--bogus", "--look-through=yes"}) {
        const twtest::run_result run = twtest::run_tallywire({word, "-h"});
        EXPECT_EQ(run.status, 1) << word;
        EXPECT_EQ(run.out, "") << word;
        EXPECT_TRUE(run.err.ends_with(usage)) << word << ": " << run.err;
    }
    const twtest::run_result unknown = twtest::run_tallywire({"--bogus"});
    EXPECT_NE(unknown.err.find("unrecognized option '--bogus'"), std::string::npos)
        << unknown.err;
}

// Words after the options are still ignored, but said to be.
TEST(LongOptions, IgnoredWordsAreNamed) {
    const std::string sample = std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap";
    const twtest::run_result with_file =
        twtest::run_tallywire({"-n", "-r", sample, sample, "more"});
    EXPECT_EQ(with_file.status, 0);
    EXPECT_EQ(with_file.err, "tallywire: '" + sample +
                                 "' and the words after it are ignored; -r reads a file, one "
                                 "per run\n");
    const twtest::run_result whole = twtest::run_tallywire({"-n", "-r", sample});
    EXPECT_EQ(with_file.out, whole.out) << "the run itself is unchanged";

    const twtest::run_result other_word =
        twtest::run_tallywire({"-n", "-r", sample, "--", "no-such-file"});
    EXPECT_EQ(other_word.err, "tallywire: 'no-such-file' and the words after it are ignored\n");
}

}  // namespace
