// --format=json and --format=csv against the text report of the same run:
// every row read back from each must be the text report's row.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "report_check.h"
#include "support/process.h"

namespace {

// kind, label with its direction mark, packets, bytes, share to four places
using row_fields = std::tuple<std::string, std::string, std::string, std::string, std::string>;

std::string four_places(double share) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", share);
    return text;
}

std::vector<row_fields> text_rows(const std::string& report) {
    std::vector<row_fields> rows;
    for (const auto& [heading, lines] : report_test::blocks_of(report)) {
        const std::string kind = heading.substr(0, heading.find(' '));
        for (const std::string& line : lines) {
            // From the right: " %", share, bytes, packets; the label is the rest.
            std::istringstream words(line);
            std::vector<std::string> word{std::istream_iterator<std::string>(words), {}};
            const std::size_t n = word.size();
            std::string label = word[0];
            for (std::size_t i = 1; i + 4 < n; ++i) {
                label += " " + word[i];
            }
            rows.emplace_back(kind, label, word[n - 4], word[n - 3], word[n - 2]);
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::string with_mark(std::string label, const std::string& direction) {
    if (!direction.empty()) {
        label += direction == "source" ? " >" : " <";
    }
    return label;
}

std::vector<row_fields> json_rows(const std::string& document) {
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseValidateEncodingFlag>(document.c_str());
    EXPECT_FALSE(parsed.HasParseError()) << document.substr(0, 300);
    std::vector<row_fields> rows;
    if (parsed.HasParseError()) {
        return rows;
    }
    EXPECT_EQ(parsed["format"].GetUint(), 1u);
    for (const auto& table : parsed["tables"].GetArray()) {
        for (const auto& row : table["rows"].GetArray()) {
            const std::string direction = row.HasMember("direction") ? row["direction"].GetString() : "";
            rows.emplace_back(table["kind"].GetString(), with_mark(row["label"].GetString(), direction),
                              std::to_string(row["packets"].GetUint64()),
                              std::to_string(row["bytes"].GetUint64()),
                              four_places(row["share"].GetDouble()));
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The labels of these reports hold no comma or quote, so a plain split
// reads every field.
std::vector<row_fields> csv_rows(const std::string& document) {
    std::vector<row_fields> rows;
    std::istringstream lines(document);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "kind,key,label,direction,packets,bytes,share,name\r");
    while (std::getline(lines, line)) {
        EXPECT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
        std::vector<std::string> field;
        std::istringstream fields(line);
        for (std::string one; std::getline(fields, one, ',');) {
            field.push_back(one);
        }
        field.resize(8);
        rows.emplace_back(field[0], with_mark(field[2], field[3]), field[4], field[5], field[6]);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

struct format_case {
    std::string name;
    std::vector<std::string> args;
};

void PrintTo(const format_case& c, std::ostream* out) { *out << c.name; }

class MachineFormats : public ::testing::TestWithParam<format_case> {};

TEST_P(MachineFormats, EveryRowIsTheTextReportsRow) {
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"-r", std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap"});
    const twtest::run_result text = twtest::run_tallywire(args);
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<row_fields> expected = text_rows(text.out);
    ASSERT_FALSE(expected.empty());

    args.push_back("--format=json");
    const twtest::run_result json = twtest::run_tallywire(args);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json_rows(json.out), expected);

    args.back() = "--format=csv";
    const twtest::run_result csv = twtest::run_tallywire(args);
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv_rows(csv.out), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, MachineFormats,
    ::testing::Values(format_case{"EveryKind", {"-n", "-S", "a"}},
                      format_case{"SidesApart", {"-n", "-S", "a", "-d"}},
                      format_case{"CutByT", {"-n", "-S", "a", "-d", "-t", "3"}},
                      format_case{"NamesLookedUp", {"-S", "lip", "-d"}},
                      format_case{"Ipv6", {"-n", "-S", "a", "-d", "--ipv6", "--look-through"}}),
    [](const auto& info) { return info.param.name; });

TEST(MachineFormats, DocumentSaysWhatTheRunWas) {
    const std::string sample = std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap";
    const twtest::run_result run =
        twtest::run_tallywire({"-n", "-S", "ph", "-P", "1000", "-t", "2", "--format=json", "-r", sample});
    ASSERT_EQ(run.status, 0) << run.err;
    rapidjson::Document parsed;
    parsed.Parse(run.out.c_str());
    ASSERT_FALSE(parsed.HasParseError());
    EXPECT_STREQ(parsed["program"].GetString(), "tallywire");
    EXPECT_FALSE(parsed["complete"].GetBool());
    EXPECT_FALSE(parsed["read_error"].GetBool());
    EXPECT_TRUE(parsed["drops"].IsNull());
    EXPECT_EQ(parsed["settings"]["port_limit"].GetInt(), 1000);
    EXPECT_EQ(parsed["settings"]["kinds"].Size(), 3u);
    EXPECT_EQ(parsed["totals"]["packets"].GetUint64(), 2000u);
    EXPECT_TRUE(parsed["tables"][0]["rows"][0]["key"].IsNull());
    EXPECT_TRUE(parsed["tables"][1]["rows"][0]["key"].IsUint());
    EXPECT_TRUE(parsed["tables"][2]["rows"][0]["key"].IsString());
}

// Nothing counted: the message as before, and still a document to read.
TEST(MachineFormats, NoPacketsStillGivesADocument) {
    twtest::temp_dir dir;
    const std::string empty = dir.file("empty.pcap");
    ASSERT_EQ(twtest::run_program(TALLYWIRE_GEN_BINARY, {"-o", empty, "-n", "0"}).status, 0);
    const twtest::run_result json = twtest::run_tallywire({"-S", "pn", "--format=json", "-r", empty});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.err, "No packets processed.\n");
    rapidjson::Document parsed;
    parsed.Parse(json.out.c_str());
    ASSERT_FALSE(parsed.HasParseError()) << json.out;
    EXPECT_EQ(parsed["totals"]["bytes"].GetUint64(), 0u);
    ASSERT_EQ(parsed["tables"].Size(), 3u);
    EXPECT_EQ(parsed["tables"][2]["rows"].Size(), 0u);
    const twtest::run_result csv = twtest::run_tallywire({"--format=csv", "-r", empty});
    EXPECT_EQ(csv.out, "kind,key,label,direction,packets,bytes,share,name\r\n");
}

}  // namespace
