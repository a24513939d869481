// tallywire-gen as a user runs it: the files it writes are read back by
// libpcap and by the fact-record reader, and bad arguments are refused.

#include <gtest/gtest.h>

#include <pcap/dlt.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

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

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t digest = 14695981039346656037ull;
    for (const char c : bytes) {
        digest = (digest ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    }
    return digest;
}

std::string file_text(const std::string& path) {
    const auto b = twgen::read_file(path);
    return {b.begin(), b.end()};
}

// The fact record cut to its first 14 columns, the ones it always had.
std::string first_columns(const std::string& path) {
    std::istringstream in(file_text(path));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        std::size_t tab = 0;
        for (int column = 0; column < 14 && tab != std::string::npos; ++column) {
            tab = line.find('\t', tab + 1);
        }
        out += line.substr(0, tab) + "\n";
    }
    return out;
}

struct legacy_case {
    std::vector<std::string> args;
    std::uint64_t pcap;   // FNV-1a of the capture file
    std::uint64_t facts;  // FNV-1a of the first 14 columns of the fact record
};

// Digests taken before link types, tags, label stacks and extension chains
// came in: cached benchmark captures, data/sample.pcap and every expected
// report built on a command line rest on these staying put.
TEST(GenCommand, EarlierCommandLinesWriteTheSameBytes) {
    const legacy_case cases[] = {
        {{"-n", "3000", "-s", "96"}, 6192431924851927002ull, 675722121649310303ull},
        {{"-n", "3000", "-l", "ppp", "-S", "7"}, 11953604280334143360ull, 8575653997528791386ull},
        {{"-n", "3000", "-l", "null", "-s", "80", "-S", "3"}, 4779323998144328860ull,
         11521207755143614459ull},
        {{"-n", "2000", "-s", "96", "-H", "40", "-P", "24", "-S", "1"}, 10525648374603983138ull,
         11011409177679108394ull},
        {{"-n", "2000", "-w", "all=3", "-S", "5", "--min-len", "0", "--max-len", "3000"},
         16978845754710463156ull, 265579571172669098ull},
        {{"-n", "1000", "-w", "all=0", "-w", "tcp=1", "-H", "1000", "-z", "0"},
         15509991192411821540ull, 1827070479086357832ull},
    };
    twtest::temp_dir dir;
    for (const legacy_case& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"-o", dir.file("m.pcap"), "-R", dir.file("m.tsv")});
        ASSERT_EQ(gen(args).status, 0);
        EXPECT_EQ(fnv1a(file_text(dir.file("m.pcap"))), c.pcap) << testing::PrintToString(c.args);
        EXPECT_EQ(fnv1a(first_columns(dir.file("m.tsv"))), c.facts)
            << testing::PrintToString(c.args);
    }
    ASSERT_EQ(gen({"-o", dir.file("m.snoop"), "-F", "snoop", "-n", "1000", "-s", "128"}).status, 0);
    EXPECT_EQ(fnv1a(file_text(dir.file("m.snoop"))), 2916775529577323472ull);
}

struct link_name_case {
    const char* name;
    int datalink;      // what libpcap says when it reads the file
    std::uint32_t in_file;  // the link type in the file header
};

void PrintTo(const link_name_case& c, std::ostream* out) { *out << c.name; }

class GenLinks : public testing::TestWithParam<link_name_case> {};

// Every link type as the command writes it: libpcap reads back the frames
// of the library's mix, with the link type pcap files use for it.
TEST_P(GenLinks, LibpcapReadsBackTheLibrarysMix) {
    const link_name_case& c = GetParam();
    twtest::temp_dir dir;
    const auto run = gen({"-o", dir.file("l.pcap"), "-R", dir.file("l.tsv"), "-n", "400", "-s",
                          "64", "-l", c.name, "-S", "9", "-w", "ipv6-ext=3", "-w", "dot1q=2",
                          "-w", "qinq=2", "-w", "pppoe=2", "-w", "mpls=2", "--vary-framing",
                          "--ipv6-hosts", "50"});
    ASSERT_EQ(run.status, 0) << run.err;
    const tools_test::pcap_read_back back = tools_test::read_with_libpcap(dir.file("l.pcap"));
    EXPECT_EQ(back.datalink, c.datalink);
    const auto file = twgen::read_file(dir.file("l.pcap"));
    ASSERT_GE(file.size(), 24u);
    std::uint32_t in_file = 0;
    std::memcpy(&in_file, file.data() + 20, 4);  // written in this host's byte order
    EXPECT_EQ(in_file, c.in_file);

    twgen::mix_options same;
    same.frames = 400;
    same.snap_length = 64;
    same.datalink = c.datalink;
    same.seed = 9;
    same.weights.ipv6_ext = 3;
    same.weights.dot1q = same.weights.qinq = same.weights.pppoe = same.weights.mpls = 2;
    same.vary_framing = true;
    same.ipv6_hosts = 50;
    const auto mix = twgen::generate_mix(same);
    ASSERT_EQ(back.bodies.size(), mix.frames.size());
    for (std::size_t i = 0; i < mix.frames.size(); ++i) {
        ASSERT_EQ(back.bodies[i], mix.frames[i].bytes) << "frame " << i;
        ASSERT_EQ(back.headers[i].len, mix.frames[i].wire_length) << "frame " << i;
    }
    EXPECT_EQ(twgen::read_facts(dir.file("l.tsv")), mix.facts);
}

INSTANTIATE_TEST_SUITE_P(
    Names, GenLinks,
    testing::Values(link_name_case{"null", 0, 0}, link_name_case{"ether", 1, 1},
                    link_name_case{"ppp", 9, 9}, link_name_case{"raw", DLT_RAW, 101},
                    link_name_case{"ppp-serial", 50, 50}, link_name_case{"loop", 108, 108},
                    link_name_case{"sll", 113, 113}, link_name_case{"ipv4", 228, 228},
                    link_name_case{"ipv6", 229, 229}, link_name_case{"sll2", 276, 276}),
    [](const testing::TestParamInfo<link_name_case>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// "all" sets the kinds a mix has by default and leaves the later ones off.
TEST(GenCommand, AllLeavesTheLaterKindsOff) {
    twtest::temp_dir dir;
    ASSERT_EQ(gen({"-o", dir.file("a.pcap"), "-R", dir.file("a.tsv"), "-n", "2000", "-w",
                   "all=1"})
                  .status,
              0);
    for (const twgen::frame_fact& f : twgen::read_facts(dir.file("a.tsv"))) {
        EXPECT_TRUE(f.kind != "ipv6-ext" && f.kind != "dot1q" && f.kind != "qinq" &&
                    f.kind != "pppoe" && f.kind != "mpls")
            << f.kind;
    }
}

// The benchmark capture's recipe on a small scale: half the frames IPv6
// behind extension headers, a fifth VLAN-tagged, hosts of both families.
TEST(GenCommand, BenchmarkRecipeGivesItsShares) {
    twtest::temp_dir dir;
    const auto run = gen({"-o", dir.file("b.pcap"), "-R", dir.file("b.tsv"), "-n", "20000",
                          "-s", "128", "-H", "4000", "-P", "3000", "-w", "all=0", "-w",
                          "tcp=27", "-w", "udp=13", "-w", "ipv6-ext=40", "-w", "dot1q=20"});
    ASSERT_EQ(run.status, 0) << run.err;
    double chained = 0;
    double tagged = 0;
    std::set<std::string> hosts4;
    std::set<std::string> hosts6;
    const auto facts = twgen::read_facts(dir.file("b.tsv"));
    for (const twgen::frame_fact& f : facts) {
        chained += f.net_version == 6 && !f.extensions.empty() ? 1 : 0;
        tagged += f.kind == "dot1q" ? 1 : 0;
        (f.net_version == 4 ? hosts4 : hosts6).insert(f.net_src);
    }
    const auto n = static_cast<double>(facts.size());
    EXPECT_NEAR(chained / n, 0.5, 0.03);
    EXPECT_NEAR(tagged / n, 0.2, 0.02);
    EXPECT_GT(hosts4.size(), 1000u);
    EXPECT_GT(hosts6.size(), 1000u);
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
        {"-o", out, "-l", "SLL"},
        {"-o", out, "-F", "snoop", "-l", "sll"},
        {"-o", out, "--ipv6-hosts", "0"},
        {"-o", out, "--ipv6-hosts", "1000001"},
        {"-o", out, "--vary-framing=yes"},
        {"-o", out, "--cut-frames=yes"},
        {"-o", out, "-w", "ipv6ext=1"},
        {"-o", out, "-l", "ipv4", "-w", "all=0", "-w", "ipv6=1"},
        {"-o", out, "-l", "ppp", "-w", "all=0", "-w", "dot1q=1"},
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

namespace {

// The timing options move the frames in time and nothing else: the fact
// record and the capture agree on every stamp, and the frames' bytes are
// those of the same mix without them.
TEST(GenCommand, TimingSpreadsTheStampsOnly) {
    twtest::temp_dir dir;
    const auto timed = gen({"-o", dir.file("timed.pcap"), "-n", "200", "--start", "86400",
                            "--rate", "10", "--pause", "50:30", "--burst", "20:5", "-R",
                            dir.file("timed.tsv")});
    ASSERT_EQ(timed.status, 0) << timed.err;
    ASSERT_EQ(gen({"-o", dir.file("plain.pcap"), "-n", "200"}).status, 0);
    const tools_test::pcap_read_back frames = tools_test::read_with_libpcap(dir.file("timed.pcap"));
    const tools_test::pcap_read_back plain = tools_test::read_with_libpcap(dir.file("plain.pcap"));
    const std::vector<twgen::frame_fact> facts = twgen::read_facts(dir.file("timed.tsv"));
    ASSERT_EQ(facts.size(), 200u);
    ASSERT_EQ(frames.headers.size(), 200u);
    EXPECT_EQ(frames.bodies, plain.bodies);
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const std::int64_t at = facts[i].seconds * 1'000'000 + facts[i].microseconds;
        EXPECT_EQ(facts[i].seconds, frames.headers[i].ts.tv_sec) << i;
        EXPECT_EQ(facts[i].microseconds, frames.headers[i].ts.tv_usec) << i;
        if (i == 0) {
            EXPECT_GE(at, 86'400'000'000);
            EXPECT_LT(at, 86'400'200'000);  // one gap of a mean of 0.1 s at most twice that
        } else if (i % 20 != 0 && i % 20 < 5) {
            EXPECT_EQ(at, previous) << "frame " << i << " of a burst";
        } else if (i % 50 == 0) {
            EXPECT_GE(at - previous, 30'000'000) << "frame " << i << " after a pause";
        }
        EXPECT_GE(at, previous);
        previous = at;
    }
    EXPECT_NE(gen({"-o", dir.file("x.pcap"), "--rate", "0"}).status, 0);
    EXPECT_NE(gen({"-o", dir.file("x.pcap"), "--pause", "10"}).status, 0);
    EXPECT_NE(gen({"-o", dir.file("x.pcap"), "--burst", "x:1"}).status, 0);
}

}  // namespace
