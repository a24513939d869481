// The progress line on a terminal: shown while a slow source is read, erased
// before the run ends, and absent, byte for byte, whenever standard error is
// not a terminal. The source is a pipe that stops for a second and a half in
// the middle of a capture, so the line is due however fast the machine.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "support/process.h"
#include "support/terminal.h"

namespace {

using twtest::shell_quoted;

// With --look-through and --ipv6 no frame of the generator's mix calls for a hint
// after the report, so the erasure is the last thing on the terminal.
constexpr const char* report_options = "-n -S lip --look-through --ipv6";

class ProgressLine : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = twtest::terminal_unavailable();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        for (const auto& [path, seed] : {std::pair{first_, "1"}, std::pair{second_, "2"}}) {
            const twtest::run_result made = twtest::run_program(
                TALLYWIRE_GEN_BINARY, {"-o", path, "-n", "30000", "-S", seed});
            ASSERT_EQ(made.status, 0) << made.err;
        }
        // The second capture without its file header continues the first.
        const auto second = twgen::read_file(second_);
        capture_ = twgen::read_file(first_);
        capture_.insert(capture_.end(), second.begin() + 24, second.end());
        twgen::write_file(rest_, {second.data() + 24, second.size() - 24});
    }

    // The whole capture, through a pipe that pauses halfway, into tallywire
    // reading standard input; redirections apply to tallywire.
    std::string slow_pipe(const std::string& redirections) const {
        return "{ cat " + shell_quoted(first_) + "; sleep 1.5; cat " + shell_quoted(rest_) +
               "; } | " + shell_quoted(twtest::tallywire_path()) + " " + report_options +
               " -r - >" + shell_quoted(out_) + " " + redirections;
    }

    // The report of the same frames read at once, with no terminal anywhere.
    std::string plain_report() const {
        twtest::run_options fed;
        fed.input.assign(capture_.begin(), capture_.end());
        const twtest::run_result run =
            twtest::run_tallywire({"-n", "-S", "lip", "--look-through", "--ipv6", "-r", "-"}, fed);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return run.out;
    }

    std::string read_out() const {
        const auto bytes = twgen::read_file(out_);
        return {bytes.begin(), bytes.end()};
    }

    twtest::temp_dir dir_;
    std::string first_ = dir_.file("first.pcap");
    std::string second_ = dir_.file("second.pcap");
    std::string rest_ = dir_.file("rest.bin");
    std::string out_ = dir_.file("report.txt");
    std::vector<std::uint8_t> capture_;
};

TEST_F(ProgressLine, ShownAndErasedOnATerminal) {
    const twtest::run_result run = twtest::run_under_terminal(slow_pipe(""));
    EXPECT_EQ(run.status, 0) << run.out;
    // Frames and bytes so far, for a pipe; rewritten in place, never a
    // newline; and the last thing on the terminal is the erasure.
    EXPECT_NE(run.out.find(" frames, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" bytes so far"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\n'), std::string::npos) << run.out;
    EXPECT_TRUE(twtest::ends_erased(run.out)) << run.out;
    EXPECT_EQ(read_out(), plain_report());
}

// Standard error a file or a pipe: nothing at all reaches the terminal or
// standard error, and the report is the same.
TEST_F(ProgressLine, AbsentWhenStandardErrorIsNoTerminal) {
    const std::string err = dir_.file("err.txt");
    for (const std::string& redirection :
         {"2>" + shell_quoted(err), "2>&1 | cat >" + shell_quoted(err)}) {
        const twtest::run_result run = twtest::run_under_terminal(slow_pipe(redirection));
        EXPECT_EQ(run.status, 0) << redirection;
        EXPECT_EQ(run.out, "") << redirection;
        const auto said = twgen::read_file(err);
        EXPECT_TRUE(said.empty()) << redirection;
        EXPECT_EQ(read_out(), plain_report()) << redirection;
    }
}

}  // namespace
