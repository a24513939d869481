// Values read as they always were but likely not meant so: each writes one
// line on standard error, and the run goes on with the report it always
// gave (the report of the value as read).

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "support/process.h"

namespace {

struct warning_case {
    const char* name;
    std::vector<std::string> args;  // CAPTURE stands for the capture's path
    std::vector<std::string> as_read;  // the same run without the doubtful value,
                                       // when one says it

    std::string warning;               // "" for a value that draws none
};

void PrintTo(const warning_case& c, std::ostream* out) { *out << c.name; }

class OptionWarning : public ::testing::TestWithParam<warning_case> {
protected:
    static void SetUpTestSuite() {
        dir_ = new twtest::temp_dir;
        twgen::mix_options mix;
        mix.frames = 300;
        twgen::write_pcap(dir_->file("c.pcap"), DLT_EN10MB, mix.snap_length,
                          twgen::generate_mix(mix).frames);
    }
    static void TearDownTestSuite() { delete dir_; }

    static std::vector<std::string> with_capture(std::vector<std::string> args) {
        for (std::string& arg : args) {
            if (arg == "CAPTURE") {
                arg = dir_->file("c.pcap");
            }
        }
        return args;
    }

    static twtest::temp_dir* dir_;
};

twtest::temp_dir* OptionWarning::dir_ = nullptr;

TEST_P(OptionWarning, OneLineAndTheReportAsRead) {
    const warning_case& c = GetParam();
    const twtest::run_result run = twtest::run_tallywire(with_capture(c.args));
    if (c.as_read.empty()) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "tallywire: " + c.warning + "\n");
        return;
    }
    const twtest::run_result as_read = twtest::run_tallywire(with_capture(c.as_read));
    EXPECT_EQ(run.status, as_read.status);
    EXPECT_EQ(run.out, as_read.out);
    EXPECT_EQ(run.err, (c.warning.empty() ? "" : "tallywire: " + c.warning + "\n") + as_read.err);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OptionWarning,
    ::testing::Values(
        warning_case{"LettersOutsideTheTable", {"-n", "-S", "xyz", "-r", "CAPTURE"},
                     {"-n", "-r", "CAPTURE"},
                     "-S 'xyz': 'xyz' names no statistic (a, l, i, p, h, n) and is ignored"},
        warning_case{"OneBadLetterAmongGoodOnes", {"-n", "-S", "pqh", "-r", "CAPTURE"},
                     {"-n", "-S", "ph", "-r", "CAPTURE"},
                     "-S 'pqh': 'q' names no statistic (a, l, i, p, h, n) and is ignored"},
        warning_case{"GoodLetters", {"-n", "-S", "a", "-r", "CAPTURE"},
                     {"-n", "-S", "lipnh", "-r", "CAPTURE"}, ""},
        warning_case{"RowsNotANumber", {"-n", "-S", "p", "-t", "abc", "-r", "CAPTURE"},
                     {"-n", "-S", "p", "-t", "0", "-r", "CAPTURE"},
                     "-t 'abc' is not a number of rows; it is read as 0"},
        warning_case{"RowsWithATail", {"-n", "-S", "p", "-t", "2x", "-r", "CAPTURE"},
                     {"-n", "-S", "p", "-t", "2", "-r", "CAPTURE"},
                     "-t '2x' is not a number of rows; it is read as 2"},
        warning_case{"RowsNegativeMeanEveryRow", {"-n", "-S", "p", "-t", "-3", "-r", "CAPTURE"},
                     {"-n", "-S", "p", "-r", "CAPTURE"}, ""},
        warning_case{"RowsPastTheRange", {"-n", "-S", "p", "-t", "4294967297", "-r", "CAPTURE"},
                     {"-n", "-S", "p", "-t", "1", "-r", "CAPTURE"},
                     "-t '4294967297' is not a number of rows; it is read as 1"},
        warning_case{"PortLimitPastThePorts", {"-n", "-S", "p", "-P", "70000", "-r", "CAPTURE"},
                     {},
                     "-P '70000' is not a port number (0 to 65535); it is read as 70000"},
        warning_case{"PortLimitNegative", {"-n", "-S", "p", "-P", "-5", "-r", "CAPTURE"},
                     {},
                     "-P '-5' is not a port number (0 to 65535); it is read as -5"},
        warning_case{"PortLimitInRange", {"-n", "-S", "p", "-P", "2000", "-r", "CAPTURE"},
                     {"-n", "-S", "p", "-P2000", "-r", "CAPTURE"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The warning names the file as given: fill in the capture's path.
TEST(OptionWarnings, TheLastFileIsNamed) {
    twtest::temp_dir dir;
    const std::string path = dir.file("b.pcap");
    twgen::write_pcap(path, DLT_EN10MB, 65535, twgen::generate_mix({}).frames);
    const twtest::run_result run = twtest::run_tallywire({"-n", "-r", "a.pcap", "-r", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "tallywire: -r is given 2 times; only the last, '" + path + "', is read\n");
}

// The snoop reader takes every frame: a filter beside it is said to do
// nothing, and the report is the unfiltered one.
TEST(InputHints, AFilterBesideASnoopFile) {
    twtest::temp_dir dir;
    const std::string path = dir.file("c.snoop");
    twgen::write_snoop(path, twgen::generate_mix({}).frames);
    const twtest::run_result filtered = twtest::run_tallywire({"-n", "-S", "p", "-f", "udp", "-r", path});
    const twtest::run_result whole = twtest::run_tallywire({"-n", "-S", "p", "-r", path});
    EXPECT_EQ(filtered.status, 0);
    EXPECT_EQ(filtered.out, whole.out);
    EXPECT_EQ(filtered.err,
              "tallywire: -f does not apply to a snoop file: every frame in it is counted\n");
}

TEST(InputHints, CompressedDataOnStandardInputNamesTheWayToReadIt) {
    twtest::run_options input;
    input.input = std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + std::string(40, '\0');
    const twtest::run_result run = twtest::run_tallywire({"-r", "-"}, input);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "pcap_open(): unknown file format\n"
              "tallywire: gzip and zstd captures are read from a file (-r FILE), not from "
              "standard input\n");
}

}  // namespace
