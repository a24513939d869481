// Reports of the long options on generated captures of every link type and
// encapsulation they read, through the real binary, against the reports
// worked out from the generator's fact record; and the same captures
// without the options, which must read them as before.

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <gtest/gtest.h>

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

struct link_mix {
    const char* name;
    int datalink;
    bool cut = false;  // half the frames cut inside their headers
};

struct option_set {
    const char* name;
    std::vector<std::string> words;
    bool look_through;
    bool ipv6;
    bool split;
};

using deep_case = std::tuple<link_mix, option_set>;

const std::vector<link_mix> link_mixes = {
    {"ethernet", DLT_EN10MB},   {"ethernet_cut", DLT_EN10MB, true},
    {"sll", DLT_LINUX_SLL},     {"sll2_cut", DLT_LINUX_SLL2, true},
    {"raw", DLT_RAW},           {"raw_cut", DLT_RAW, true},
    {"ipv4", DLT_IPV4},         {"ipv6_cut", DLT_IPV6, true},
    {"loop", DLT_LOOP},         {"null_cut", DLT_NULL, true},
    {"ppp", DLT_PPP},           {"ppp_serial_cut", DLT_PPP_SERIAL, true},
};

const std::vector<option_set> option_sets = {
    {"none", {}, false, false, false},
    {"look_through", {"--look-through"}, true, false, false},
    {"ipv6", {"--ipv6"}, false, true, false},
    {"both", {"--look-through", "--ipv6"}, true, true, false},
    {"both_split", {"--ipv6", "-d", "--look-through"}, true, true, true},
};

// Every encapsulation the link can carry, and IPv6 with extension headers,
// beside the classic mix.
twgen::generated_capture make_capture(const link_mix& link) {
    twgen::mix_options mix = twgen::every_encapsulation_mix(link.datalink, 2500);
    mix.hosts = 50;
    mix.ipv6_hosts = 40;
    mix.ports = 30;
    mix.seed = 11;
    mix.cut_frames = link.cut;
    return twgen::generate_mix(mix);
}

class DeepReport : public ::testing::TestWithParam<deep_case> {};

TEST_P(DeepReport, MatchesTheFactRecord) {
    const auto& [link, options] = GetParam();
    const twgen::generated_capture capture = make_capture(link);
    twtest::temp_dir dir;
    const std::string path = dir.file("mix.pcap");
    twgen::write_pcap(path, link.datalink, 65535, capture.frames);

    std::vector<std::string> args = {"-n", "-S", "a"};
    args.insert(args.end(), options.words.begin(), options.words.end());
    args.insert(args.end(), {"-r", path});
    const twtest::run_result run = twtest::run_tallywire(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    oracle_settings expected;
    expected.direction_split = options.split;
    expected.look_through = options.look_through;
    expected.ipv6 = options.ipv6;
    EXPECT_TRUE(report_matches(run.out, expected_report(capture.facts, expected), -1));
}

INSTANTIATE_TEST_SUITE_P(
    LinksAndOptions, DeepReport,
    ::testing::Combine(::testing::ValuesIn(link_mixes), ::testing::ValuesIn(option_sets)),
    [](const ::testing::TestParamInfo<deep_case>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// With names: IPv6 hosts the system's databases do not name are shown as
// their text, and the Host block stays one block sorted by bytes under -t.
TEST(DeepReportLimits, LineLimitCoversBothFamilies) {
    const twgen::generated_capture capture = make_capture({"ethernet", DLT_EN10MB});
    twtest::temp_dir dir;
    const std::string path = dir.file("mix.pcap");
    twgen::write_pcap(path, DLT_EN10MB, 65535, capture.frames);
    for (const int lines : {0, 1, 7, 30}) {
        const twtest::run_result run = twtest::run_tallywire(
            {"-n", "-S", "hn", "--ipv6", "--look-through", "-t", std::to_string(lines), "-r", path});
        ASSERT_EQ(run.status, 0) << run.err;
        oracle_settings expected;
        expected.kinds = 1 | 16 | 32;
        expected.look_through = true;
        expected.ipv6 = true;
        EXPECT_TRUE(report_matches(run.out, expected_report(capture.facts, expected), lines))
            << lines << " lines";
    }
}

}  // namespace

namespace {

void PrintTo(const link_mix& mix, std::ostream* out) { *out << mix.name; }
void PrintTo(const option_set& options, std::ostream* out) { *out << options.name; }

}  // namespace
