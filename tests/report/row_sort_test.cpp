// The report's order of rows, largest byte count first, over the spreads of
// byte counts that decide how many digits the sort looks at, and lines
// printed in blocks the same as printed one by one.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cli/program_state.h"
#include "report/row_format.h"
#include "row_printing.h"
#include "stats/row_sort.h"
#include "report_text.h"

using namespace tallywire;

namespace {

struct spread_case {
    const char* what;
    std::size_t rows;
    std::uint64_t largest;  // byte counts drawn from 0 to this
};

std::vector<report_row> random_rows(const spread_case& spread, std::mt19937_64& random) {
    std::uniform_int_distribution<std::uint64_t> bytes(0, spread.largest);
    std::vector<report_row> rows(spread.rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = report_row{table_key{static_cast<std::uint32_t>(i + 1), 0}, bytes(random), i};
    }
    return rows;
}

// Sorted means: bytes never increase, rows of equal bytes come in the
// order of what their keys name (a Host key's address, other kinds' values
// as they are), and every row is still there with its own key and packets.
void expect_sorted_permutation(std::vector<report_row> before, const std::vector<report_row>& after,
                               const char* what, std::uint32_t kind = stat_port) {
    ASSERT_EQ(before.size(), after.size()) << what;
    for (std::size_t i = 1; i < after.size(); ++i) {
        ASSERT_GE(after[i - 1].bytes, after[i].bytes) << what << " at row " << i;
        if (after[i - 1].bytes == after[i].bytes) {
            const std::uint32_t a = after[i - 1].key.value;
            const std::uint32_t b = after[i].key.value;
            ASSERT_LT(kind == stat_host ? keys::address_of(a) : a,
                      kind == stat_host ? keys::address_of(b) : b)
                << what << ": a tie out of key order at row " << i;
        }
    }
    std::vector<report_row> restored = after;
    const auto by_key = [](const report_row& a, const report_row& b) {
        return a.key.value < b.key.value;
    };
    std::sort(restored.begin(), restored.end(), by_key);
    std::sort(before.begin(), before.end(), by_key);
    for (std::size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(restored[i].key.value, before[i].key.value) << what;
        ASSERT_EQ(restored[i].bytes, before[i].bytes) << what;
        ASSERT_EQ(restored[i].packets, before[i].packets) << what;
    }
}

TEST(SortByBytes, LargestFirstOverEverySpreadOfCounts) {
    const std::vector<spread_case> cases = {
        {"no rows", 0, 0},
        {"one row", 1, 5},
        {"just below the comparison sort's reach", 47, 1000},
        {"just at it", 48, 1000},
        {"all equal", 5000, 0},
        {"one digit of values, many ties", 20000, 255},
        {"two digits", 20000, 65535},
        {"counts a report of a wide capture has", 100000, 40000},
        {"the whole 64 bits", 50000, ~std::uint64_t{0}},
        {"a digit boundary plus one bit", 20000, 511},
    };
    std::mt19937_64 random(3);
    for (const spread_case& spread : cases) {
        std::vector<report_row> rows = random_rows(spread, random);
        const std::vector<report_row> before = rows;
        sort_by_bytes(rows, stat_port);
        expect_sorted_permutation(before, rows, spread.what);
        // Host keys hold an address's bytes as they lie in the header: ties
        // go by the address, not by the key's value.
        std::vector<report_row> hosts = rows;
        for (report_row& row : hosts) {
            row.key.value = static_cast<std::uint32_t>(row.key.value * 2654435761u);
        }
        const std::vector<report_row> hosts_before = hosts;
        sort_by_bytes(hosts, stat_host);
        expect_sorted_permutation(hosts_before, hosts, spread.what, stat_host);
    }
}

TEST(SortByBytes, FewLargeRowsAmongManySmallOnes) {
    // One bucket of the first digit takes nearly every row.
    std::mt19937_64 random(9);
    std::vector<report_row> rows = random_rows({"small", 30000, 300}, random);
    rows[17].bytes = std::uint64_t{1} << 40;
    rows[29000].bytes = (std::uint64_t{1} << 40) + 1;
    rows[5].bytes = std::uint64_t{1} << 33;
    const std::vector<report_row> before = rows;
    sort_by_bytes(rows, stat_port);
    expect_sorted_permutation(before, rows, "few large rows");
    EXPECT_EQ(rows[0].key.value, 29001u);
    EXPECT_EQ(rows[1].key.value, 18u);
    EXPECT_EQ(rows[2].key.value, 6u);
}

// The merge's rows put in key order as a counted table hands them over:
// the same order a comparison sort by the packed key gives, over the key
// spreads of every kind, with and without sides.
TEST(SortByKey, TheOrderOfThePackedKeys) {
    struct key_spread {
        const char* what;
        std::size_t rows;
        std::uint32_t largest;
        bool sides;
    };
    const std::vector<key_spread> cases = {
        {"no rows", 0, 1, false},          {"a few ports", 40, 65535, true},
        {"ports", 30000, 65535, false},    {"ports per side", 30000, 65535, true},
        {"hosts", 50000, ~0u, false},      {"hosts per side", 50000, ~0u, true},
        {"one value per side", 2, 7, true}};
    std::mt19937_64 random(11);
    for (const key_spread& spread : cases) {
        std::uniform_int_distribution<std::uint32_t> value(1, spread.largest);
        std::vector<report_row> rows(spread.rows);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto side = static_cast<std::int8_t>(spread.sides ? random() % 2 : 0);
            rows[i] = report_row{table_key{value(random), side}, random() % 100, i};
        }
        std::vector<report_row> want = rows;
        std::stable_sort(want.begin(), want.end(), [](const report_row& a, const report_row& b) {
            return keys::pack(a.key, true) < keys::pack(b.key, true);
        });
        sort_by_key(rows);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(keys::pack(rows[i].key, true), keys::pack(want[i].key, true))
                << spread.what << " at row " << i;
        }
    }
}

// Far more lines than one block of output holds, with labels long enough
// to land a line across a block's end.
TEST(PrintRowsInBlocks, SameTextAsLineByLine) {
    reset_program_state();
    label_settings labels;
    labels.no_resolve = true;
    labels.direction_split = true;
    std::vector<report_row> rows;
    for (std::uint32_t i = 0; i < 6000; ++i) {
        rows.push_back(report_row{table_key{i * 2654435761u | 1u, static_cast<std::int8_t>(i % 2)},
                                  std::uint64_t{i} * 977, i + 1});
    }
    const std::uint64_t total = 6000ull * 977 * 3;
    const std::string blocks = report_test::written_by([&](std::FILE* out) {
        report_test::print_rows(stat_host, static_cast<std::uint32_t>(rows.size()), rows, total, labels, out);
    });
    std::string lines;
    for (const report_row& row : rows) {
        const std::uint32_t value = row.key.value;
        const std::string dotted = std::to_string(value & 0xffu) + "." +
                                   std::to_string(value >> 8 & 0xffu) + "." +
                                   std::to_string(value >> 16 & 0xffu) + "." +
                                   std::to_string(value >> 24);
        lines += report_test::written_by([&](std::FILE* out) {
            report_test::print_row(dotted, row.key.direction == 0 ? "> " : "< ", row.packets, row.bytes,
                      row_percent(row.bytes, total), out);
        });
    }
    EXPECT_GT(blocks.size(), std::size_t{1} << 17);
    EXPECT_EQ(blocks, lines);
    reset_program_state();
}

}  // namespace
