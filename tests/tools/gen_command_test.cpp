// tallywire-gen as a user runs it: the files it writes are read back by
// libpcap and by the fact-record reader, and bad arguments are refused.

#include <gtest/gtest.h>

#include <filesystem>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "pcap_read_back.h"
#include "support/process.h"

namespace {

twtest::run_result gen(const std::vector<std::string>& args) {
    return twtest::run_program(TALLYWIRE_GEN_BINARY, args);
}

struct pcap_summary {
    int datalink = -1;
    int snap_length = -1;
    std::vector<std::uint32_t> caplens;
    std::vector<std::uint32_t> lens;
};

pcap_summary summarize(const std::string& path) {
    const tools_test::pcap_read_back r = tools_test::read_with_libpcap(path);
    pcap_summary s{r.datalink, r.snap_length, {}, {}};
    for (const pcap_pkthdr& h : r.headers) {
        s.caplens.push_back(h.caplen);
        s.lens.push_back(h.len);
    }
    return s;
}

TEST(GenCommand, WritesTheRequestedPcapAndItsFacts) {
    twtest::temp_dir dir;
    const auto run = gen({"-o", dir.file("mix.pcap"), "-n", "777", "-s", "80", "-l", "ppp", "-S",
                          "42", "-R", dir.file("mix.tsv")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const pcap_summary s = summarize(dir.file("mix.pcap"));
    EXPECT_EQ(s.datalink, 9);
    EXPECT_EQ(s.snap_length, 80);
    ASSERT_EQ(s.caplens.size(), 777u);
    const auto facts = twgen::read_facts(dir.file("mix.tsv"));
    ASSERT_EQ(facts.size(), 777u);
    for (std::size_t i = 0; i < facts.size(); ++i) {
        EXPECT_LE(s.caplens[i], 80u);
        EXPECT_EQ(s.caplens[i], std::min(s.lens[i], 80u));
        EXPECT_EQ(facts[i].wire_length, s.lens[i]);
        EXPECT_EQ(facts[i].captured_length, s.caplens[i]);
        EXPECT_EQ(facts[i].datalink, 9);
    }

    twgen::mix_options same;
    same.frames = 777;
    same.snap_length = 80;
    same.datalink = 9;
    same.seed = 42;
    EXPECT_EQ(facts, twgen::generate_mix(same).facts) << "the command makes the library's mix";
}

TEST(GenCommand, SameArgumentsSameFile) {
    twtest::temp_dir dir;
    const std::vector<std::string> common = {"-n", "300", "-H", "10", "-P", "5", "-z", "0.5",
                                             "--min-len", "64", "--max-len", "256"};
    auto args = common;
    args.insert(args.end(), {"-o", dir.file("a.pcap")});
    ASSERT_EQ(gen(args).status, 0);
    args = common;
    args.insert(args.end(), {"-o", dir.file("b.pcap")});
    ASSERT_EQ(gen(args).status, 0);
    EXPECT_EQ(twgen::read_file(dir.file("a.pcap")), twgen::read_file(dir.file("b.pcap")));
    for (const std::uint32_t len : summarize(dir.file("a.pcap")).lens) {
        EXPECT_GE(len, 64u);
        EXPECT_LE(len, 256u);
    }
}

TEST(GenCommand, SnoopFileHoldsTheSameFramesAsThePcap) {
    twtest::temp_dir dir;
    ASSERT_EQ(gen({"-o", dir.file("m.pcap"), "-n", "50", "-s", "128"}).status, 0);
    ASSERT_EQ(gen({"-o", dir.file("m.snoop"), "-F", "snoop", "-n", "50", "-s", "128"}).status, 0);
    twgen::mix_options options;
    options.frames = 50;
    options.snap_length = 128;
    const auto capture = twgen::generate_mix(options);
    EXPECT_EQ(twgen::read_file(dir.file("m.snoop")), twgen::snoop_image(capture.frames, 128));
    EXPECT_EQ(summarize(dir.file("m.pcap")).caplens.size(), 50u);
}

TEST(GenCommand, WeightsChooseTheKinds) {
    twtest::temp_dir dir;
    const auto run = gen({"-o", dir.file("arp.pcap"), "-R", dir.file("arp.tsv"), "-n", "40", "-w",
                          "all=0", "-w", "arp=3", "-w", "8023=1"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const twgen::frame_fact& f : twgen::read_facts(dir.file("arp.tsv"))) {
        EXPECT_TRUE(f.kind == "arp" || f.kind == "ieee8023") << f.kind;
    }
}

TEST(GenCommand, EmptyCaptureAndStandardOutput) {
    twtest::temp_dir dir;
    ASSERT_EQ(gen({"-o", dir.file("none.pcap"), "-n", "0"}).status, 0);
    EXPECT_TRUE(summarize(dir.file("none.pcap")).caplens.empty());
    const auto run = gen({"-o", "-", "-n", "3", "-F", "snoop"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 5), "snoop");
}

TEST(GenCommand, HelpGoesToStandardOutput) {
    const auto run = gen({"-h"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: tallywire-gen"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST(GenCommand, BadArgumentsAreRefusedWithStatusOne) {
    twtest::temp_dir dir;
    const std::string out = dir.file("never.pcap");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-n", "10"},
        {"-o", out, "-n", "ten"},
        {"-o", out, "-n", "-1"},
        {"-o", out, "-n", "99999999999999999999999"},
        {"-o", out, "-s", "0"},
        {"-o", out, "-s", "262145"},
        {"-o", out, "-s", "12x"},
        {"-o", out, "-l", "token-ring"},
        {"-o", out, "-F", "pcapng"},
        {"-o", out, "-F", "snoop", "-l", "ppp"},
        {"-o", out, "-H", "0"},
        {"-o", out, "-P", "65536"},
        {"-o", out, "-z", "-0.5"},
        {"-o", out, "-z", "nan"},
        {"-o", out, "-w", "tcp"},
        {"-o", out, "-w", "gopher=1"},
        {"-o", out, "-w", "tcp=-1"},
        {"-o", out, "-w", "all=0"},
        {"-o", out, "--min-len", "500", "--max-len", "100"},
        {"-o", out, "--max-len", "70000"},
        {"-o", out, "-q"},
        {"-o", out, "stray"},
        {"-o", out, "-R", out},
        {"-o", out, "-s"},
        {"-o", ""},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args) {
            shown += " '" + a + "'";
        }
        const auto run = gen(args);
        EXPECT_EQ(run.status, 1) << shown;
        EXPECT_NE(run.err.find("tallywire-gen"), std::string::npos) << shown << ": " << run.err;
        EXPECT_EQ(run.out, "") << shown;
    }
    EXPECT_FALSE(std::filesystem::exists(out)) << "a refused run writes no file";
}

TEST(GenCommand, UnwritableOutputIsAFailure) {
    const auto run = gen({"-o", "/nonexistent-dir/x.pcap", "-n", "5"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("/nonexistent-dir/x.pcap"), std::string::npos) << run.err;
    const auto facts = gen({"-o", "/dev/null", "-R", "/nonexistent-dir/x.tsv"});
    EXPECT_EQ(facts.status, 1);
    EXPECT_NE(facts.err.find("x.tsv"), std::string::npos) << facts.err;
}

}  // namespace
