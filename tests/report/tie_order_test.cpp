// Rows of equal bytes: with every frame of one length, most rows of a block
// tie, and -t N must print exactly the first N rows of the full report, in
// every format, with and without -d, and through --merge of the parts'
// documents. Ties go by key: ports by number, hosts by address.

#include <pcap/pcap.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/traffic_mix.h"
#include "support/process.h"

namespace {

// The report as blocks of row lines: a block starts at a line that names
// its kind (text "Port Statistics:", CSV "Port,...", JSON {"kind":"Port"});
// the CSV header and the JSON document's head and tail are left out.
std::vector<std::vector<std::string>> blocks_of(const std::string& report,
                                                const std::string& format) {
    std::vector<std::vector<std::string>> blocks;
    std::istringstream lines(report);
    std::string line;
    std::string kind;
    while (std::getline(lines, line)) {
        std::string line_kind;
        if (format == "text") {
            if (line.find(" Statistics:") != std::string::npos) {
                blocks.emplace_back();
                continue;
            }
        } else if (format == "csv") {
            if (line.rfind("kind,", 0) == 0) {
                continue;
            }
            line_kind = line.substr(0, line.find(','));
        } else if (line.rfind("{\"kind\":", 0) == 0) {
            blocks.emplace_back();
            continue;
        } else if (line.rfind("{\"key\"", 0) != 0) {
            continue;
        }
        if (format == "csv" && line_kind != kind) {
            kind = line_kind;
            blocks.emplace_back();
        }
        // The last row of a JSON block closes its array.
        const std::size_t end = format == "json" ? line.find('}') + 1 : line.size();
        if (!blocks.empty()) {
            blocks.back().push_back(line.substr(0, end));
        }
    }
    return blocks;
}

class TieOrder : public ::testing::Test {
protected:
    void SetUp() override {
        twgen::mix_options mix;
        mix.frames = 4000;
        mix.hosts = 300;
        mix.ports = 500;
        mix.min_length = 60;
        mix.max_length = 60;
        mix.seed = 5;
        const twgen::generated_capture capture = twgen::generate_mix(mix);
        twgen::write_pcap(whole_, DLT_EN10MB, mix.snap_length, capture.frames);
        const std::size_t half = capture.frames.size() / 2;
        const std::vector<twgen::frame> first(capture.frames.begin(),
                                              capture.frames.begin() + half);
        const std::vector<twgen::frame> second(capture.frames.begin() + half,
                                               capture.frames.end());
        twgen::write_pcap(first_, DLT_EN10MB, mix.snap_length, first);
        twgen::write_pcap(second_, DLT_EN10MB, mix.snap_length, second);
    }

    std::string run(std::vector<std::string> args, const std::string& input = {}) {
        twtest::run_options options;
        options.input = input;
        const twtest::run_result result = twtest::run_tallywire(args, options);
        EXPECT_EQ(result.status, 0) << result.err;
        return result.out;
    }

    twtest::temp_dir dir_;
    std::string whole_ = dir_.file("whole.pcap");
    std::string first_ = dir_.file("first.pcap");
    std::string second_ = dir_.file("second.pcap");
};

TEST_F(TieOrder, TheFirstNRowsAreThoseOfTheFullReport) {
    for (const std::string format : {"text", "csv", "json"}) {
        for (const bool sides : {false, true}) {
            std::vector<std::string> args = {"-n", "-S", "a", "--format=" + format, "-r", whole_};
            if (sides) {
                args.push_back("-d");
            }
            const auto full = blocks_of(run(args), format);
            ASSERT_EQ(full.size(), 6u) << format;
            for (const int n : {1, 2, 7, 40}) {
                std::vector<std::string> limited = args;
                limited.push_back("-t");
                limited.push_back(std::to_string(n));
                const auto cut = blocks_of(run(limited), format);
                ASSERT_EQ(cut.size(), full.size()) << format << " -t " << n;
                for (std::size_t block = 0; block < full.size(); ++block) {
                    const std::size_t rows =
                        std::min(full[block].size(), static_cast<std::size_t>(n));
                    const std::vector<std::string> want(full[block].begin(),
                                                        full[block].begin() + rows);
                    EXPECT_EQ(cut[block], want)
                        << format << (sides ? " -d" : "") << " -t " << n << " block " << block;
                }
            }
        }
    }
}

TEST_F(TieOrder, AMergeCutsAsTheRunDoes) {
    const std::string parts =
        run({"-n", "-S", "a", "-d", "--format=json", "-r", first_}) +
        run({"-n", "-S", "a", "-d", "--format=json", "-r", second_});
    for (const std::string n : {"3", "25"}) {
        EXPECT_EQ(run({"-n", "--merge=-", "-t", n}, parts),
                  run({"-n", "-S", "a", "-d", "-t", n, "-r", whole_}))
            << "-t " << n;
    }
}

// Ports of equal bytes by number, hosts by address: 10.0.0.9 before
// 10.0.0.10 before 10.0.1.1, whatever order the table keeps them in.
TEST_F(TieOrder, PortsByNumberHostsByAddress) {
    const auto blocks = blocks_of(run({"-n", "-S", "ph", "-r", whole_}), "text");
    ASSERT_EQ(blocks.size(), 3u);
    const auto field = [](const std::string& line, int at) {
        std::istringstream words(line);
        std::string word;
        for (int i = 0; i <= at; ++i) {
            words >> word;
        }
        return word;
    };
    const auto address = [](const std::string& text) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
        return (a << 24) | (b << 16) | (c << 8) | d;
    };
    std::size_t ties = 0;
    for (std::size_t block = 1; block < blocks.size(); ++block) {
        const auto& rows = blocks[block];
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (field(rows[i - 1], 2) != field(rows[i], 2)) {
                continue;
            }
            ++ties;
            const std::string a = field(rows[i - 1], 0);
            const std::string b = field(rows[i], 0);
            if (block == 1) {
                EXPECT_LT(std::stoul(a), std::stoul(b)) << "Port rows " << i;
            } else {
                EXPECT_LT(address(a), address(b)) << "Host rows " << i;
            }
        }
    }
    EXPECT_GT(ties, 100u) << "the capture must hold many ties";
}

}  // namespace
