// Reading the command line into a run_config object, in process.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "settings.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace {

struct read_result {
    option_outcome outcome;
    run_config values;
};

// Reads args (without argv[0]) into a fresh run_config.
read_result read_words(std::vector<std::string> args) {
    args.insert(args.begin(), "tallywire");
    std::vector<char*> argv;
    for (std::string& word : args) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    read_result result{option_outcome::usage, run_config{}};
    result.outcome = read_options(static_cast<int>(args.size()), argv.data(), result.values).outcome;
    return result;
}

run_config read_accepted(const std::vector<std::string>& args) {
    read_result result = read_words(args);
    EXPECT_EQ(result.outcome, option_outcome::run);
    return result.values;
}

TEST(ReadOptions, NoWordsIsALivePromiscuousCaptureOnTheDefaultDevice) {
    const run_config s = read_accepted({});
    EXPECT_EQ(s.source_name, "auto");
    EXPECT_TRUE(s.mode.live);
    EXPECT_TRUE(s.mode.promiscuous);
    EXPECT_EQ(s.stat_kinds, 1u);
    EXPECT_EQ(s.filter_expression, "");
    EXPECT_EQ(s.capture_seconds, -1.0);
    EXPECT_FALSE(s.direction_split);
    EXPECT_FALSE(s.no_resolve);
    EXPECT_FALSE(s.port_limit_enabled);
    EXPECT_EQ(s.port_limit, 1024);
    EXPECT_EQ(s.max_lines, -1);
}

TEST(ReadOptions, FlagsGroupedOrApart) {
    for (const auto& words :
         {std::vector<std::string>{"-dnpR"}, std::vector<std::string>{"-d", "-n", "-p", "-R"},
          std::vector<std::string>{"-dn", "-pR"}}) {
        const run_config s = read_accepted(words);
        EXPECT_TRUE(s.direction_split);
        EXPECT_TRUE(s.no_resolve);
        EXPECT_FALSE(s.mode.promiscuous);
        EXPECT_TRUE(s.port_limit_enabled);
        EXPECT_EQ(s.port_limit, 1024);
    }
}

TEST(ReadOptions, ArgumentAttachedOrInTheNextWord) {
    const run_config a = read_accepted({"-Sph", "-t5", "-P80", "-fudp", "-s2.5"});
    const run_config b = read_accepted({"-S", "ph", "-t", "5", "-P", "80", "-f", "udp", "-s", "2.5"});
    for (const run_config& s : {a, b}) {
        EXPECT_EQ(s.stat_kinds, 1u | 8u | 16u);
        EXPECT_EQ(s.max_lines, 5);
        EXPECT_EQ(s.port_limit, 80);
        EXPECT_TRUE(s.port_limit_enabled);
        EXPECT_EQ(s.filter_expression, "udp");
        EXPECT_EQ(s.capture_seconds, 2.5);
    }
}

// Reading stops at the first word that is not an option: that word and
// every word after it are ignored, and the run is a live capture.
TEST(ReadOptions, StopsAtTheFirstNonOptionWord) {
    const run_config named_file = read_accepted({"data.dump", "-r", "other.pcap", "-d"});
    EXPECT_EQ(named_file.source_name, "auto");
    EXPECT_TRUE(named_file.mode.live);
    EXPECT_FALSE(named_file.direction_split);

    const run_config middle = read_accepted({"-n", "word", "-d", "-h"});
    EXPECT_TRUE(middle.no_resolve);
    EXPECT_FALSE(middle.direction_split);

    const run_config dashes = read_accepted({"-n", "--", "-d"});
    EXPECT_TRUE(dashes.no_resolve);
    EXPECT_FALSE(dashes.direction_split);

    const run_config lone_dash = read_accepted({"-", "-d"});
    EXPECT_FALSE(lone_dash.direction_split);
    EXPECT_EQ(lone_dash.source_name, "auto");
}

TEST(ReadOptions, LaterSourceOptionWins) {
    const run_config file_last = read_accepted({"-i", "eth9", "-r", "capture.pcap"});
    EXPECT_EQ(file_last.source_name, "capture.pcap");
    EXPECT_FALSE(file_last.mode.live);

    const run_config interface_last = read_accepted({"-r", "capture.pcap", "-i", "eth9"});
    EXPECT_EQ(interface_last.source_name, "eth9");
    EXPECT_TRUE(interface_last.mode.live);

    for (const auto& words :
         {std::vector<std::string>{"-p", "-i", "eth9"},
          std::vector<std::string>{"-i", "eth9", "-p"}, std::vector<std::string>{"-p", "-r", "f"},
          std::vector<std::string>{"-r", "f", "-p"}}) {
        EXPECT_FALSE(read_accepted(words).mode.promiscuous);
    }
}

TEST(ReadOptions, SourceNamesAndTheAutoKeyword) {
    struct source_case {
        std::vector<std::string> words;
        std::string name;
        bool live;
    };
    const source_case cases[] = {
        {{"-r", ""}, "auto", true},  // empty: the default device
        {{"-i", ""}, "auto", true},
        {{"-i", "auto"}, "auto", true},
        {{"-r", "auto"}, "auto", false},  // a file that happens to be named auto
        {{"-i", "Auto"}, "Auto", true},
        {{"-r", "-"}, "-", false},  // standard input
        {{"-r", "x", "-r", ""}, "auto", true},
    };
    for (const source_case& c : cases) {
        const run_config s = read_accepted(c.words);
        EXPECT_EQ(s.source_name, c.name) << c.words.back();
        EXPECT_EQ(s.mode.live, c.live) << c.words.back();
    }
}

// Longer texts are cut silently to what a 4096-byte buffer holds with its
// terminating zero.
TEST(ReadOptions, LongTextsKeepTheirFirst4095Characters) {
    std::string long_text;
    for (int i = 0; long_text.size() < 5000; ++i) {
        long_text += std::to_string(i % 10);
    }
    const std::string kept = long_text.substr(0, 4095);
    const std::string one_short = long_text.substr(0, 4094);

    EXPECT_EQ(read_accepted({"-f", long_text}).filter_expression, kept);
    EXPECT_EQ(read_accepted({"-i", long_text}).source_name, kept);
    EXPECT_EQ(read_accepted({"-r", long_text}).source_name, kept);
    EXPECT_EQ(read_accepted({"-f", kept}).filter_expression, kept);
    EXPECT_EQ(read_accepted({"-f", one_short}).filter_expression, one_short);
    EXPECT_EQ(read_accepted({"-f" + long_text}).filter_expression, kept);
}

TEST(ReadOptions, SecondsAcceptedAboveZeroOrExactlyMinusOne) {
    struct seconds_case {
        const char* text;
        double value;
    };
    const seconds_case accepted[] = {
        {"-1", -1.0},  {"0.5", 0.5}, {"2", 2.0},     {"1e3", 1000.0},   {"0x10", 16.0},
        {"3abc", 3.0}, {" 7", 7.0},  {"-1.0", -1.0}, {"inf", INFINITY},
    };
    for (const seconds_case& c : accepted) {
        EXPECT_EQ(read_accepted({"-s", c.text}).capture_seconds, c.value) << c.text;
    }
    // Not a number: neither at most 0 nor -1, so it passes and means no limit.
    for (const char* text : {"nan", "NAN", "-nan"}) {
        EXPECT_TRUE(std::isnan(read_accepted({"-s", text}).capture_seconds)) << text;
    }
    for (const char* text : {"0", "-2", "-0.5", "abc", "", "-inf", "-1.5", "0.0"}) {
        EXPECT_EQ(read_words({"-s", text}).outcome, option_outcome::usage) << text;
    }
}

TEST(ReadOptions, IntegersReadAsBase10Prefixes) {
    struct integer_case {
        const char* text;
        std::int32_t value;
    };
    const integer_case cases[] = {
        {"80", 80}, {" -5", -5}, {"+12", 12}, {"12abc", 12},
        {"abc", 0}, {"", 0},     {"010", 10}, {"0x20", 0},
    };
    for (const integer_case& c : cases) {
        const run_config port = read_accepted({"-P", c.text});
        EXPECT_EQ(port.port_limit, c.value) << c.text;
        EXPECT_TRUE(port.port_limit_enabled);
        EXPECT_EQ(read_accepted({"-t", c.text}).max_lines, c.value) << c.text;
    }
}

TEST(ReadOptions, RefusalsEndTheReading) {
    for (const auto& words : {std::vector<std::string>{"-h"}, std::vector<std::string>{"-?"},
                              std::vector<std::string>{"-x"}, std::vector<std::string>{"-t"},
                              std::vector<std::string>{"-d", "-s", "0", "-n"}}) {
        const read_result result = read_words(words);
        EXPECT_EQ(result.outcome, option_outcome::usage) << words.front();
        EXPECT_FALSE(result.values.no_resolve);
    }
}

// Each call starts over from the first word, whatever the last one read.
TEST(ReadOptions, ASecondReadStartsAfresh) {
    EXPECT_EQ(read_words({"-n", "stop", "-x"}).outcome, option_outcome::run);
    const run_config again = read_accepted({"-d"});
    EXPECT_TRUE(again.direction_split);
}

struct letters_case {
    std::vector<std::string> words;
    std::uint32_t kinds;
};

void PrintTo(const letters_case& c, std::ostream* out) {
    for (const std::string& word : c.words) {
        *out << word << ' ';
    }
    *out << "-> kinds " << c.kinds;
}

class StatLetters : public ::testing::TestWithParam<letters_case> {};

TEST_P(StatLetters, SelectTheirKindsAndAlwaysTotal) {
    EXPECT_EQ(read_accepted(GetParam().words).stat_kinds, GetParam().kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, StatLetters,
    ::testing::Values(
        letters_case{{"-S", "a"}, 63}, letters_case{{"-S", "l"}, 1 | 2},
        letters_case{{"-S", "i"}, 1 | 4}, letters_case{{"-S", "p"}, 1 | 8},
        letters_case{{"-S", "h"}, 1 | 16}, letters_case{{"-S", "n"}, 1 | 32},
        letters_case{{"-S", "ph"}, 1 | 8 | 16}, letters_case{{"-S", "p", "-S", "h"}, 1 | 8 | 16},
        letters_case{{"-S", "pp"}, 1 | 8}, letters_case{{"-S", "lin"}, 1 | 2 | 4 | 32},
        letters_case{{"-S", "al"}, 63}, letters_case{{"-S", "x"}, 1}, letters_case{{"-S", "P"}, 1},
        letters_case{{"-S", "A"}, 1}, letters_case{{"-S", "LIPHN"}, 1}, letters_case{{"-S", ""}, 1},
        letters_case{{"-S", "x-p h"}, 1 | 8 | 16}, letters_case{{"-S", "t"}, 1}));

TEST(ParseStatLetters, StartsFromTheEmptySet) {
    EXPECT_EQ(parse_stat_letters(""), 0u);
    EXPECT_EQ(parse_stat_letters("xyz"), 0u);
    EXPECT_EQ(parse_stat_letters("a"), static_cast<std::uint32_t>(stat_link | stat_ip | stat_port |
                                                                  stat_host | stat_network));
    EXPECT_EQ(parse_stat_letters("n"), static_cast<std::uint32_t>(stat_network));
}

}  // namespace

// One lookup at a time is a separate build of the program for the tests and
// the benchmark (tools/one_lookup/main.cpp): the shipped option table has
// no word for it, and the word is refused as an option while it stays
// what it is as an option's argument.
TEST(ReadOptions, NoOptionForOneLookupAtATime) {
    for (const char* word : {"--one-lookup-at-a-time", "--one-lookup-at-a-time=1"}) {
        EXPECT_EQ(read_words({word, "-r", "x.pcap"}).outcome, option_outcome::usage) << word;
    }
    const run_config as_filter = read_accepted({"-f", "--one-lookup-at-a-time", "-r", "x.pcap"});
    EXPECT_EQ(as_filter.filter_expression, "--one-lookup-at-a-time");
}
