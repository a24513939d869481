// Reports of generated traffic mixes, through the real binary, against the
// report worked out from the generator's fact record.

#include <arpa/inet.h>
#include <netdb.h>
#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <cctype>
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

struct mix_case {
    const char* what;
    int datalink;
    std::vector<std::string> options;  // before -r
    oracle_settings expected;
    int max_lines = -1;
};

std::string describe(const mix_case& c) {
    std::string text = c.what;
    for (const auto& option : c.options) {
        text += " " + option;
    }
    return text;
}

// Shown in failure messages in place of the bytes of the record.
void PrintTo(const mix_case& c, std::ostream* out) { *out << describe(c); }

class MixReport : public ::testing::TestWithParam<mix_case> {};

TEST_P(MixReport, MatchesTheFactRecord) {
    const mix_case& c = GetParam();
    if (!c.expected.no_resolve &&
        (getservbyport(htons(80), nullptr) == nullptr || getprotobynumber(6) == nullptr)) {
        GTEST_SKIP() << "the services or protocols database (netbase) is not installed";
    }
    twgen::mix_options mix;
    mix.frames = 3000;
    mix.datalink = c.datalink;
    mix.hosts = 60;
    mix.ports = 40;
    mix.seed = 7;
    const twgen::generated_capture capture = twgen::generate_mix(mix);
    twtest::temp_dir dir;
    const std::string path = dir.file("mix.pcap");
    twgen::write_pcap(path, c.datalink, mix.snap_length, capture.frames);

    std::vector<std::string> args = c.options;
    args.push_back("-r");
    args.push_back(path);
    const auto run = twtest::run_tallywire(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(report_matches(run.out, expected_report(capture.facts, c.expected), c.max_lines))
        << describe(c);
}

constexpr std::uint32_t all_kinds = 0x3f;
constexpr std::uint32_t ip_and_port = 1 | 4 | 8;

INSTANTIATE_TEST_SUITE_P(
    KindsLimitsAndSides, MixReport,
    ::testing::Values(
        mix_case{"every kind", DLT_EN10MB, {"-n", "-S", "a"}, {all_kinds, false, true}},
        mix_case{"sides apart", DLT_EN10MB, {"-n", "-d", "-S", "a"}, {all_kinds, true, true}},
        mix_case{"three lines", DLT_EN10MB, {"-n", "-S", "a", "-t", "3"},
                 {all_kinds, false, true}, 3},
        mix_case{"three lines sides apart", DLT_EN10MB, {"-n", "-d", "-S", "a", "-t", "3"},
                 {all_kinds, true, true}, 3},
        mix_case{"no lines", DLT_EN10MB, {"-n", "-S", "a", "-t", "0"}, {all_kinds, false, true}, 0},
        mix_case{"negative limit", DLT_EN10MB, {"-n", "-S", "a", "-t", "-1"},
                 {all_kinds, false, true}},
        mix_case{"named ports and protocols", DLT_EN10MB, {"-S", "ip"}, {ip_and_port, false, false}},
        mix_case{"named sides apart", DLT_EN10MB, {"-d", "-S", "ip", "-t", "5"},
                 {ip_and_port, true, false}, 5},
        mix_case{"ppp links", DLT_PPP, {"-n", "-S", "a"}, {all_kinds, false, true}},
        mix_case{"null links", DLT_NULL, {"-n", "-d", "-S", "a"}, {all_kinds, true, true}}),
    [](const ::testing::TestParamInfo<mix_case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
        }
        return name;
    });

}  // namespace

namespace {

// The bundled sample is a generated mix too; regenerated with the options it
// was made with, its facts give its report.
TEST(SampleReport, MatchesItsFactRecord) {
    const std::string sample = std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap";
    twgen::mix_options mix;
    mix.frames = 2000;
    mix.snap_length = 96;
    mix.hosts = 40;
    mix.ports = 24;
    mix.seed = 1;
    const twgen::generated_capture capture = twgen::generate_mix(mix);
    twtest::temp_dir dir;
    const std::string regenerated = dir.file("sample.pcap");
    twgen::write_pcap(regenerated, DLT_EN10MB, mix.snap_length, capture.frames);
    // A sample that no longer matches its options would leave the report
    // below unchecked: it fails here instead.
    ASSERT_TRUE(twgen::read_file(sample) == twgen::read_file(regenerated))
        << sample << " is missing or was not made with the options above (data/README)";
    const auto run = twtest::run_tallywire({"-n", "-d", "-S", "a", "-r", sample});
    EXPECT_TRUE(report_matches(run.out, expected_report(capture.facts, {all_kinds, true, true}), -1));
}

}  // namespace
