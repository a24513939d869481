// --merge on real JSON reports of real runs: the sum of the parts is the
// report of one run over all their frames, and every part that cannot be
// added is refused with its position, status 1 and nothing on standard
// output.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "report/report_check.h"
#include "support/process.h"
#include "tools/pcap_read_back.h"

namespace {

twtest::run_options on_standard_input(const std::string& text) {
    twtest::run_options options;
    options.input = text;
    return options;
}

// One capture holding the frames of parts one after another, written
// through libpcap's dump API.
void join_captures(const std::vector<std::string>& parts, const std::string& whole) {
    const tools_test::pcap_read_back first = tools_test::read_with_libpcap(parts.front());
    std::unique_ptr<pcap_t, decltype(&pcap_close)> dead(
        pcap_open_dead(first.datalink, first.snap_length), pcap_close);
    std::unique_ptr<pcap_dumper_t, decltype(&pcap_dump_close)> dumper(
        pcap_dump_open(dead.get(), whole.c_str()), pcap_dump_close);
    ASSERT_TRUE(dumper);
    for (const std::string& part : parts) {
        const tools_test::pcap_read_back frames = tools_test::read_with_libpcap(part);
        for (std::size_t i = 0; i < frames.headers.size(); ++i) {
            pcap_dump(reinterpret_cast<u_char*>(dumper.get()), &frames.headers[i],
                      frames.bodies[i].data());
        }
    }
}

struct merge_case {
    std::string name;
    std::vector<std::string> gen;     // generator options of every part
    std::vector<std::string> counts;  // counting options of the parts' runs
};

void PrintTo(const merge_case& c, std::ostream* out) { *out << c.name; }

class MergedParts : public ::testing::TestWithParam<merge_case> {};

TEST_P(MergedParts, SumIsTheReportOfOneRunOverAllFrames) {
    twtest::temp_dir dir;
    std::vector<std::string> parts;
    std::string documents;
    for (const char* seed : {"1", "2", "3"}) {
        parts.push_back(dir.file(std::string("part") + seed + ".pcap"));
        std::vector<std::string> gen = GetParam().gen;
        gen.insert(gen.end(), {"-o", parts.back(), "-S", seed});
        ASSERT_EQ(twtest::run_program(TALLYWIRE_GEN_BINARY, gen).status, 0);
        std::vector<std::string> run = GetParam().counts;
        run.insert(run.end(), {"--format=json", "-r", parts.back()});
        const twtest::run_result json = twtest::run_tallywire(run);
        ASSERT_EQ(json.status, 0) << json.err;
        documents += json.out;
    }
    join_captures(parts, dir.file("whole.pcap"));
    std::vector<std::string> whole_run = GetParam().counts;
    whole_run.insert(whole_run.end(), {"-r", dir.file("whole.pcap")});
    const twtest::run_result whole = twtest::run_tallywire(whole_run);
    ASSERT_EQ(whole.status, 0) << whole.err;

    // The merge states no setting: the parts' hold.
    const twtest::run_result merged = twtest::run_tallywire({"--merge=-", "-n"}, on_standard_input(documents));
    ASSERT_EQ(merged.status, 0) << merged.err;
    // Byte for byte, rows of equal bytes included; and cut by -t, as the
    // run's first rows.
    EXPECT_EQ(merged.out, whole.out);
    whole_run.insert(whole_run.begin(), {"-t", "7"});
    const twtest::run_result whole_cut = twtest::run_tallywire(whole_run);
    const twtest::run_result merged_cut =
        twtest::run_tallywire({"--merge=-", "-n", "-t", "7"}, on_standard_input(documents));
    ASSERT_EQ(merged_cut.status, 0) << merged_cut.err;
    EXPECT_EQ(merged_cut.out, whole_cut.out);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, MergedParts,
    ::testing::Values(
        merge_case{"EveryKind", {"-n", "3000", "-H", "500"}, {"-n", "-S", "a"}},
        merge_case{"SidesApartWithPortLimit", {"-n", "3000"}, {"-n", "-S", "a", "-d", "-P", "2000"}},
        merge_case{"Ipv6ThroughTags",
                   {"-n", "3000", "-w", "all=1", "-w", "ipv6-ext=3", "-w", "dot1q=2"},
                   {"-n", "-S", "a", "-d", "--ipv6", "--look-through"}}),
    [](const auto& info) { return info.param.name; });

// The JSON report of the bundled sample, to be damaged in the ways below.
const std::string& sample_document() {
    static const std::string document =
        twtest::run_tallywire({"-n", "-S", "a", "--format=json", "-r",
                               std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap"})
            .out;
    return document;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The document with the first row line that starts with start twice.
std::string row_twice(const std::string& start) {
    const std::string& document = sample_document();
    const std::size_t begin = document.find("\n" + start);
    const std::size_t end = document.find('}', begin);
    const std::string row = document.substr(begin + 1, end + 1 - (begin + 1));
    return replaced(document, row, row + ",\n" + row);
}

struct refusal_case {
    std::string name;
    std::string input;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const refusal_case& c, std::ostream* out) { *out << c.name; }

class MergeRefusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(MergeRefusal, NamesThePartAndPrintsNothing) {
    std::vector<std::string> args = GetParam().args;
    args.push_back("--merge=-");
    const twtest::run_result run = twtest::run_tallywire(args, on_standard_input(GetParam().input));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, GetParam().message);
}

const std::string& doc() { return sample_document(); }
const std::string max = "18446744073709551615";

// A second part with a byte that is not UTF-8 in the Total row's label, and
// the refusal that names its place in the whole input.
const std::string total_label = "\"label\":\"Total\"";
std::string not_utf8_input() {
    return doc() + replaced(doc(), total_label, "\"label\":\"Tot\xC3(al\"");
}
std::string not_utf8_message() {
    const std::size_t at =
        doc().size() + doc().find(total_label) + std::string("\"label\":\"Tot").size();
    return "tallywire: --merge: part 2: malformed JSON at byte " + std::to_string(at) +
           " of the input: not well-formed UTF-8\n";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MergeRefusal,
    ::testing::Values(
        refusal_case{"NoDocument", " \n", {},
                     "tallywire: --merge: no report to merge: the input holds no document\n"},
        refusal_case{"Truncated", doc() + doc().substr(0, 400), {},
                     "tallywire: --merge: part 2: the input ends inside it: the document is cut short\n"},
        refusal_case{"Malformed", "{\"program\":\"tallywire\",]", {},
                     "tallywire: --merge: part 1: malformed JSON at byte 23 of the input: Missing a name for object member.\n"},
        refusal_case{"NotUtf8", not_utf8_input(), {}, not_utf8_message()},
        refusal_case{"NotOurs", doc() + "{\"name\":\"x\"}", {},
                     "tallywire: --merge: part 2: not a tallywire document\n"},
        refusal_case{"OtherFormat", replaced(doc(), "\"format\":1", "\"format\":2"), {},
                     "tallywire: --merge: part 1: a report of format 2; this tallywire reads format 1\n"},
        refusal_case{"CutByT", doc() + replaced(doc(), "\"complete\":true", "\"complete\":false"), {},
                     "tallywire: --merge: part 2: cut by -t: not every row is present\n"},
        refusal_case{"PartsDisagree",
                     doc() + doc() + replaced(doc(), "\"ipv6\":false", "\"ipv6\":true"), {},
                     "tallywire: --merge: part 3: its --ipv6 differs from part 1's\n"},
        refusal_case{"CommandLineDisagrees", doc(), {"-d"},
                     "tallywire: --merge: part 1: its -d (sources and destinations apart) differs "
                     "from the command line's\n"},
        refusal_case{"KeyOutOfRange", replaced(doc(), "{\"key\":80,", "{\"key\":70000,"), {},
                     "tallywire: --merge: part 1: Port key 70000 does not parse\n"},
        refusal_case{"KeyNotAnAddress",
                     replaced(doc(), "{\"key\":\"168.73.13.78\"", "{\"key\":\"168.73.013.78\""), {},
                     "tallywire: --merge: part 1: Host key \"168.73.013.78\" does not parse\n"},
        refusal_case{"KeyTwice", row_twice("{\"key\":\"168.73.0.0\""), {},
                     "tallywire: --merge: part 1: Network key \"168.73.0.0\" stands twice\n"},
        refusal_case{"SumPastTheLimit",
                     doc() + replaced(doc(), "\"packets\":2000,\"bytes\":1558668,\"share\"",
                                      "\"packets\":2000,\"bytes\":" + max + ",\"share\""),
                     {},
                     "tallywire: --merge: part 2: the sum of Total key null passes 2^64 - 1\n"},
        refusal_case{"CaptureBesideIt", doc(), {"-r", "x.pcap"},
                     "tallywire: --merge reads reports, not a capture: -r cannot stand beside it\n"}),
    [](const auto& info) { return info.param.name; });

// A part whose reading stopped at an error leaves the sum short: the report
// is printed, and the status says so.
TEST(MergeOutcome, ReadErrorOfAPartCarriesOver) {
    const std::string short_part = replaced(doc(), "\"read_error\":false", "\"read_error\":true");
    const twtest::run_result run =
        twtest::run_tallywire({"--merge=-", "--format=json"},
                              on_standard_input(doc() + short_part));
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.out.find("\"read_error\":true"), std::string::npos);
    EXPECT_NE(run.out.find("\"packets\":4000"), std::string::npos);
}

}  // namespace
