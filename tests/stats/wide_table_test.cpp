// Tables too large to hash: counts go to a log that is sorted and merged into
// the sorted entries when it fills and before every lookup or walk. Checked
// against an ordered map through every path that meets the log: merges
// while counting, lookups and stores between counts, walks, and counting
// after a walk.

#include <cstdint>
#include <map>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "stats_fixture.h"

namespace twstats {
namespace {

// Enough distinct keys to leave hashing behind and fill the log many times.
constexpr std::size_t distinct_values = 150000;

using expected_table = std::map<std::pair<std::uint32_t, int>, table_counters>;

class wide_table_test : public stats_test, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        stats_test::SetUp();
        config.direction_split = GetParam();
        ASSERT_EQ(create_tables(stat_total | stat_host, accounting_context_of(config)), 0);
        values_.resize(distinct_values);
        for (auto& value : values_) {
            value = static_cast<std::uint32_t>(random_()) | 1u;
        }
    }

    stat_table& host() { return stat_tables[1]; }

    // The key as the table keeps it: directions meet unless split.
    std::pair<std::uint32_t, int> expected_key(const table_key& key) const {
        return {key.value, GetParam() ? key.direction : 0};
    }

    void count(const table_key& key, std::uint32_t length) {
        frame_view packet;
        packet.wire_length = length;
        count_packet(host(), key, packet);
        table_counters& counters = expected_[expected_key(key)];
        counters.bytes += length;
        ++counters.packets;
    }

    void count_random(std::size_t counts) {
        for (std::size_t i = 0; i < counts; ++i) {
            const table_key key{values_[random_() % values_.size()],
                                static_cast<std::int8_t>(random_() % 2)};
            count(key, static_cast<std::uint32_t>(random_() % 1500));
        }
    }

    table_key some_key() { return table_key{values_[random_() % values_.size()], 0}; }

    void expect_walk_matches() { expect_rows_match(walk_table(host())); }

    void expect_rows_match(std::span<const report_row> rows) {
        ASSERT_EQ(rows.size(), expected_.size());
        auto want = expected_.begin();
        for (const report_row& row : rows) {
            ASSERT_EQ(expected_key(row.key), want->first);
            ASSERT_EQ(row.bytes, want->second.bytes) << row.key;
            ASSERT_EQ(row.packets, want->second.packets) << row.key;
            ++want;
        }
    }

    void expect_found(const table_key& key) {
        table_counters counters{};
        const auto want = expected_.find(expected_key(key));
        if (want == expected_.end()) {
            EXPECT_EQ(find_entry(host(), key, counters), 1) << key;
        } else {
            ASSERT_EQ(find_entry(host(), key, counters), 0) << key;
            EXPECT_EQ(counters, want->second) << key;
        }
    }

    std::mt19937 random_{17};
    std::vector<std::uint32_t> values_;
    expected_table expected_;
};

TEST_P(wide_table_test, counts_merged_over_many_rounds_walk_in_key_order) {
    count_random(4 * distinct_values);
    expect_walk_matches();
}

TEST_P(wide_table_test, lookups_and_stores_between_counts_see_every_count) {
    for (int round = 0; round < 6; ++round) {
        count_random(distinct_values / 2);
        for (int i = 0; i < 50; ++i) {
            expect_found(some_key());
        }
        // Replacing an entry, and storing one under a key never counted.
        const table_key replaced = some_key();
        const table_key fresh{static_cast<std::uint32_t>(2 * round + 2), 1};
        for (const table_key& key : {replaced, fresh}) {
            const table_counters stored{1000 + static_cast<std::uint64_t>(round), 3};
            ASSERT_EQ(add_entry(host(), key, stored), 0) << key;
            expected_[expected_key(key)] = stored;
            expect_found(key);
        }
    }
    expect_walk_matches();
}

TEST_P(wide_table_test, counting_after_a_walk_merges_into_the_walked_entries) {
    count_random(distinct_values);
    expect_walk_matches();
    count_random(distinct_values);
    for (int i = 0; i < 50; ++i) {
        expect_found(some_key());
    }
    // A walk broken off half-way, then counts, then a whole walk.
    table_key key{};
    table_counters counters{};
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(next_entry(host(), key, counters), 0);
    }
    count_random(distinct_values);
    expect_walk_matches();
}

// The report takes a wide table's entries as its rows: with counts still
// in the log, and again from a table counted into after it was emptied.
TEST_P(wide_table_test, taken_rows_are_every_entry_in_key_order_and_empty_the_table) {
    for (int round = 0; round < 2; ++round) {
        count_random(distinct_values);
        table_rows rows;
        ASSERT_EQ(take_rows(host(), rows), 0);
        expect_rows_match(rows.rows());
        EXPECT_EQ(entry_count(host()), 0u);
        table_key key{};
        table_counters counters{};
        EXPECT_EQ(next_entry(host(), key, counters), 1);
        expected_.clear();
    }
}

TEST_P(wide_table_test, byte_totals_in_the_log_carry_past_32_bits) {
    count_random(distinct_values);
    // Lengths beyond what a log record holds, and the largest it holds,
    // many times over.
    const table_key heavy{0xfffffff1u, 1};
    const table_key logged{0xfffffff3u, 0};
    for (int i = 0; i < 300; ++i) {
        if (i < 5) {
            count(heavy, 0xfffffff0u);
        }
        count(logged, 0xffffffu);
    }
    count_random(distinct_values);
    // A stored count near the top of 64 bits keeps adding exactly.
    const table_key stored{0x80000001u, 0};
    ASSERT_EQ(add_entry(host(), stored, table_counters{std::uint64_t{1} << 40, 1}), 0);
    expected_[expected_key(stored)] = table_counters{std::uint64_t{1} << 40, 1};
    count(stored, 0xffffffffu);
    expect_found(heavy);
    expect_found(logged);
    expect_found(stored);
    expect_walk_matches();
}

// Split, the two directions of one value are two entries next to each
// other; merged, they are one.
TEST_P(wide_table_test, directions_of_one_value_split_or_meet) {
    count_random(distinct_values);
    const std::uint32_t value = 0x7f000001u;
    count(table_key{value, 1}, 10);
    count(table_key{value, 0}, 20);
    count_random(distinct_values);
    const std::vector<report_row> rows = walk_table(host());
    std::vector<report_row> of_value;
    for (const report_row& row : rows) {
        if (row.key.value == value) {
            of_value.push_back(row);
        }
    }
    if (GetParam()) {
        ASSERT_EQ(of_value.size(), 2u);
        EXPECT_EQ(of_value[0].key.direction, 0);
        EXPECT_EQ(of_value[1].key.direction, 1);
    } else {
        ASSERT_EQ(of_value.size(), 1u);
        EXPECT_EQ(of_value[0].packets, 2u);
        EXPECT_EQ(of_value[0].key.direction, 0);
    }
}

TEST_P(wide_table_test, entry_count_includes_counts_still_pending) {
    count_random(distinct_values);
    EXPECT_EQ(entry_count(host()), expected_.size());
    EXPECT_EQ(entry_count(stat_tables[0]), 0u) << "nothing counted under Total";
    count(table_key{5, 0}, 1);  // a new key arriving after the count
    EXPECT_EQ(entry_count(host()), expected_.size());
    expect_walk_matches();
}

INSTANTIATE_TEST_SUITE_P(direction_modes, wide_table_test, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "split" : "merged";
                         });

}  // namespace
}  // namespace twstats
