// A wide table's merge of its log makes room for exactly the logged keys
// that are new, found by a pass over the log and the entries in step, and
// merges from the back into it. Each round below logs keys that land in one
// telling place relative to the entries already there (all known, all
// before, all after, in between, one key many times) and forces a merge
// with a lookup, or has the report take the rows with the log still
// pending; the rows must then match an ordered map.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "stats_fixture.h"

namespace twstats {
namespace {

// Past the size from which a table logs its counts instead of hashing them.
constexpr std::uint32_t first_entries = 40000;
constexpr std::uint32_t first_value = 1000000;
constexpr std::uint32_t spacing = 4;

class log_merge_test : public stats_test {
protected:
    void SetUp() override {
        stats_test::SetUp();
        ASSERT_EQ(create_tables(stat_total | stat_host), 0);
    }

    stat_table& host() { return stat_tables[1]; }

    void count(std::uint32_t value, std::uint32_t length) {
        frame_view frame;
        frame.wire_length = length;
        count_packet(host(), table_key{value, 0}, frame);
        table_counters& counters = expected_[value];
        counters.bytes += length;
        ++counters.packets;
    }

    // A lookup merges whatever the log holds.
    void merge() {
        table_counters counters{};
        ASSERT_GE(find_entry(host(), table_key{first_value, 0}, counters), 0);
    }

    void expect_walk_matches(const char* round) { expect_rows_match(walk_table(host()), round); }

    void expect_rows_match(std::span<const report_row> rows, const char* round) {
        ASSERT_EQ(rows.size(), expected_.size()) << round;
        auto want = expected_.begin();
        for (const report_row& row : rows) {
            ASSERT_EQ(row.key.value, want->first) << round;
            ASSERT_EQ(row.bytes, want->second.bytes) << round << " " << row.key;
            ASSERT_EQ(row.packets, want->second.packets) << round << " " << row.key;
            ++want;
        }
    }

    void count_first_entries() {
        for (std::uint32_t i = 0; i < first_entries; ++i) {
            count(first_value + spacing * i, 100);
        }
        merge();
    }

    std::map<std::uint32_t, table_counters> expected_;
};

struct round {
    const char* name;
    std::function<std::uint32_t(std::uint32_t)> value;
    std::uint32_t counts;
};

std::vector<round> placements() {
    const std::uint32_t last_value = first_value + spacing * (first_entries - 1);
    return {
        {"only known keys", [](std::uint32_t i) { return first_value + spacing * (i % 5000); },
         20000},
        {"every key before the entries", [](std::uint32_t i) { return 10 + i; }, 3000},
        {"every key after the entries", [=](std::uint32_t i) { return last_value + 1 + i; },
         3000},
        {"new keys between known ones, half of them known",
         [](std::uint32_t i) { return first_value + 2 * i; }, 30000},
        {"known keys near the top only",
         [=](std::uint32_t i) { return last_value - spacing * (i % 100); }, 2000},
        {"one known key many times", [](std::uint32_t) { return first_value + spacing; }, 9000},
        {"one new key many times", [](std::uint32_t) { return first_value + 3; }, 9000},
        {"known and new keys at both ends",
         [=](std::uint32_t i) { return i % 2 == 0 ? 5 + i : last_value + 7 + i; }, 8000},
    };
}

TEST_F(log_merge_test, logged_keys_known_new_before_after_and_between_entries) {
    count_first_entries();
    expect_walk_matches("first entries");
    for (const round& each : placements()) {
        for (std::uint32_t i = 0; i < each.counts; ++i) {
            count(each.value(i), 1 + i % 1500);
        }
        merge();
        expect_walk_matches(each.name);
    }
    EXPECT_EQ(entry_count(host()), expected_.size());
}

// The last merge writes rows where the entries lie, and the entries below
// every logged key become rows in place; how many those are depends on
// where the logged keys fall.
TEST_F(log_merge_test, rows_taken_with_the_log_pending_match_for_every_placement) {
    for (const round& each : placements()) {
        ASSERT_EQ(create_tables(stat_total | stat_host), 0);
        expected_.clear();
        count_first_entries();
        for (std::uint32_t i = 0; i < each.counts; ++i) {
            count(each.value(i), 1 + i % 1500);
        }
        table_rows rows;
        ASSERT_EQ(take_rows(host(), rows), 0) << each.name;
        expect_rows_match(rows.rows(), each.name);
        EXPECT_EQ(entry_count(host()), 0u) << each.name;
    }
}

}  // namespace
}  // namespace twstats
