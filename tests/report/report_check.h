#pragma once

// Comparing a whole report with an expected one. Rows of equal byte counts
// may come in any order, and a line limit may cut between them, so every
// block is compared as a set of lines whose byte column must not increase.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "report_text.h"

namespace report_test {

struct expected_row {
    std::string line;
    std::uint64_t bytes = 0;
};

struct expected_block {
    std::string heading;  // with its newline
    std::vector<expected_row> rows;
};

// One expected row: the whole label (with its blank and mark), the counts.
struct row_counts {
    std::string label;
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
};

inline expected_block block(const std::string& kind_name, const std::vector<row_counts>& rows,
                            std::uint64_t total_bytes) {
    expected_block out{kind_name + " Statistics:\n", {}};
    for (const auto& r : rows) {
        out.rows.push_back({expected_line(r.label, r.packets, r.bytes, total_bytes), r.bytes});
    }
    return out;
}

// Splits a report into heading lines and the row lines that follow each.
inline std::vector<std::pair<std::string, std::vector<std::string>>> blocks_of(
    const std::string& report) {
    std::vector<std::pair<std::string, std::vector<std::string>>> blocks;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        line += '\n';
        if (!line.empty() && line[0] == '\t' && !blocks.empty()) {
            blocks.back().second.push_back(line);
        } else {
            blocks.push_back({line, {}});
        }
    }
    return blocks;
}

// max_lines as -t takes it: negative for every row. The Total block (the
// first) is never limited.
inline ::testing::AssertionResult report_matches(const std::string& actual,
                                                 const std::vector<expected_block>& expected,
                                                 int max_lines) {
    if (!actual.empty() && actual.back() != '\n') {
        return ::testing::AssertionFailure() << "the report does not end in a newline";
    }
    const auto blocks = blocks_of(actual);
    if (blocks.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << blocks.size() << " blocks where " << expected.size() << " were expected:\n"
               << actual;
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto& [heading, lines] = blocks[b];
        const expected_block& want = expected[b];
        if (heading != want.heading) {
            return ::testing::AssertionFailure()
                   << "heading " << heading << " where " << want.heading << " was expected";
        }
        std::size_t limit = want.rows.size();
        if (b > 0 && max_lines >= 0) {
            limit = std::min(limit, static_cast<std::size_t>(max_lines));
        }
        if (lines.size() != limit) {
            return ::testing::AssertionFailure() << want.heading << lines.size()
                                                 << " rows where " << limit << " were expected";
        }
        std::multimap<std::string, std::uint64_t> unmatched;
        std::vector<std::uint64_t> wanted_bytes;
        for (const auto& row : want.rows) {
            unmatched.emplace(row.line, row.bytes);
            wanted_bytes.push_back(row.bytes);
        }
        std::sort(wanted_bytes.rbegin(), wanted_bytes.rend());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto found = unmatched.find(lines[i]);
            if (found == unmatched.end()) {
                return ::testing::AssertionFailure() << want.heading << "unexpected row [" << lines[i]
                                                     << "]\nreport:\n" << actual;
            }
            if (found->second != wanted_bytes[i]) {
                return ::testing::AssertionFailure()
                       << want.heading << "row " << i << " [" << lines[i] << "] has "
                       << found->second << " bytes where the " << i
                       << "th largest count is " << wanted_bytes[i];
            }
            unmatched.erase(found);
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace report_test
