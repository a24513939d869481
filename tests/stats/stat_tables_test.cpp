// The table interface through its statuses: creation, lookup, store, the
// walk in key order, and counting, for every kind in both direction modes.

#include <algorithm>
#include <cerrno>
#include <map>
#include <random>
#include <tuple>

#include "stats_fixture.h"

namespace twstats {
namespace {

constexpr std::uint32_t all_kinds =
    stat_total | stat_link | stat_ip | stat_port | stat_host | stat_network;
constexpr std::uint32_t every_kind[] = {stat_total, stat_link,  stat_ip,
                                        stat_port,  stat_host, stat_network};

using tables_test = stats_test;

TEST_F(tables_test, create_tables_opens_one_table_per_kind_in_bit_order) {
    EXPECT_EQ(create_tables(stat_total), 0);
    ASSERT_EQ(stat_table_count, 1);
    ASSERT_EQ(stat_tables.size(), 1u);
    EXPECT_EQ(stat_tables[0].kind, stat_total);

    EXPECT_EQ(create_tables(stat_network | stat_port | stat_total | stat_host | stat_ip |
                            stat_link),
              0);
    ASSERT_EQ(stat_table_count, 6);
    ASSERT_EQ(stat_tables.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(stat_tables[i].kind, every_kind[i]);
        EXPECT_EQ(stat_kind_name(stat_tables[i].kind), stat_kind_names[i]);
    }
}

TEST_F(tables_test, create_tables_with_the_empty_set_creates_nothing) {
    EXPECT_EQ(create_tables(0), 1);
    EXPECT_EQ(stat_table_count, 0);
    EXPECT_TRUE(stat_tables.empty());
    EXPECT_EQ(close_tables(), 0);
}

TEST_F(tables_test, compare_keys_orders_values_unsigned_then_directions_when_split) {
    struct order_case {
        table_key a;
        table_key b;
        bool split;
        int expected;
    };
    const order_case cases[] = {
        {{5, 0}, {6, 0}, false, -1},
        {{6, 0}, {5, 0}, false, 1},
        {{0x7fffffff, 0}, {0x80000000, 0}, false, -1},
        {{0xffffffff, 0}, {1, 0}, false, 1},
        {{5, 0}, {5, 1}, false, 0},
        {{5, 1}, {5, 0}, false, 0},
        {{5, 0}, {5, 1}, true, -1},
        {{5, 1}, {5, 0}, true, 1},
        {{5, 1}, {5, 1}, true, 0},
        {{5, -1}, {5, 0}, true, -1},
        {{5, 1}, {6, 0}, true, -1},
    };
    for (const order_case& c : cases) {
        config.direction_split = c.split;
        ASSERT_EQ(create_tables(stat_total, accounting_context_of(config)), 0);
        EXPECT_EQ(compare_keys(c.a, c.b), c.expected)
            << c.a << " against " << c.b << (c.split ? " split" : " merged");
    }
}

class kind_and_mode_test
    : public stats_test,
      public ::testing::WithParamInterface<std::tuple<std::uint32_t, bool>> {
protected:
    void SetUp() override {
        stats_test::SetUp();
        config.direction_split = std::get<1>(GetParam());
        ASSERT_EQ(create_tables(std::get<0>(GetParam()), accounting_context_of(config)), 0);
    }
    stat_table& table() { return stat_tables[0]; }
};

TEST_P(kind_and_mode_test, walk_of_an_empty_table_ends_at_once) {
    table_key key{};
    table_counters counters{};
    EXPECT_EQ(next_entry(table(), key, counters), 1);
    EXPECT_EQ(find_entry(table(), table_key{2, 0}, counters), 1);
}

// Values at the edges of every kind's direct slots and beyond, stored in a
// scrambled order, come back once each in ascending order.
TEST_P(kind_and_mode_test, walk_yields_every_entry_once_in_key_order) {
    const bool split = config.direction_split;
    std::vector<table_key> keys;
    for (const std::uint32_t value :
         {1u, 2u, 3u, 255u, 256u, 257u, 258u, 65535u, 65536u, 65537u, 65538u, 0x00c0a801u,
          0x7fffffffu, 0x80000000u, 0xfffffffeu, 0xffffffffu}) {
        keys.push_back(table_key{value, 0});
        if (split) {
            keys.push_back(table_key{value, 1});
        }
    }
    std::vector<table_key> scrambled = keys;
    std::shuffle(scrambled.begin(), scrambled.end(), std::mt19937(3));
    for (const table_key& key : scrambled) {
        const table_counters counters{std::uint64_t{key.value} * 3 + 7,
                                      std::uint64_t{key.value} + 1};
        ASSERT_EQ(add_entry(table(), key, counters), 0) << key;
    }

    const std::vector<report_row> rows = walk_table(table());
    EXPECT_EQ(keys_of(rows), keys);
    for (const report_row& row : rows) {
        EXPECT_EQ(row.bytes, std::uint64_t{row.key.value} * 3 + 7) << row.key;
        EXPECT_EQ(row.packets, std::uint64_t{row.key.value} + 1) << row.key;
    }
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(compare_keys(rows[i - 1].key, rows[i].key), -1);
    }

    // The report takes the same rows over, slots and sparse entries alike,
    // and the table is left empty.
    table_rows taken;
    ASSERT_EQ(take_rows(table(), taken), 0);
    EXPECT_EQ(keys_of(taken.rows()), keys);
    for (const report_row& row : taken.rows()) {
        EXPECT_EQ(row.bytes, std::uint64_t{row.key.value} * 3 + 7) << row.key;
    }
    EXPECT_TRUE(walk_table(table()).empty());
    EXPECT_EQ(entry_count(table()), 0u);
}

TEST_P(kind_and_mode_test, find_add_and_count_keep_one_entry_per_key) {
    const table_key key{258, 0};
    table_counters counters{};
    EXPECT_EQ(find_entry(table(), key, counters), 1);
    ASSERT_EQ(add_entry(table(), key, table_counters{100, 1}), 0);
    ASSERT_EQ(find_entry(table(), key, counters), 0);
    EXPECT_EQ(counters.bytes, 100u);
    EXPECT_EQ(counters.packets, 1u);

    ASSERT_EQ(add_entry(table(), key, table_counters{40, 2}), 0);  // replaces
    frame_view packet;
    packet.wire_length = 60;
    count_packet(table(), key, packet);
    ASSERT_EQ(find_entry(table(), key, counters), 0);
    EXPECT_EQ(counters.bytes, 100u);
    EXPECT_EQ(counters.packets, 3u);

    // The first count of a key starts it at the packet's length and 1.
    count_packet(table(), table_key{0x80000001u, 0}, packet);
    ASSERT_EQ(find_entry(table(), table_key{0x80000001u, 0}, counters), 0);
    EXPECT_EQ(counters.bytes, 60u);
    EXPECT_EQ(counters.packets, 1u);
    EXPECT_EQ(walk_table(table()).size(), 2u);
}

// Counts may be applied late (after a prefetch of their slot); no read or
// replacement may see them out of order.
TEST_P(kind_and_mode_test, a_replacement_lands_after_every_earlier_count) {
    frame_view packet;
    packet.wire_length = 5;
    const table_key replaced{7, 0};
    for (int i = 0; i < 3; ++i) {
        count_packet(table(), replaced, packet);
    }
    for (std::uint32_t value = 8; value < 20; ++value) {
        count_packet(table(), table_key{value, 0}, packet);
    }
    count_packet(table(), replaced, packet);
    ASSERT_EQ(add_entry(table(), replaced, table_counters{1000, 1}), 0);
    count_packet(table(), replaced, packet);

    table_counters counters{};
    ASSERT_EQ(find_entry(table(), replaced, counters), 0);
    EXPECT_EQ(counters, (table_counters{1005, 2}));
    ASSERT_EQ(find_entry(table(), table_key{19, 0}, counters), 0);
    EXPECT_EQ(counters, (table_counters{5, 1}));
    EXPECT_EQ(entry_count(table()), 13u);
}

TEST_P(kind_and_mode_test, byte_totals_carry_past_32_bits) {
    frame_view packet;
    packet.wire_length = 0xffffffffu;
    for (int i = 0; i < 3; ++i) {
        count_packet(table(), table_key{2, 0}, packet);
    }
    table_counters counters{};
    ASSERT_EQ(find_entry(table(), table_key{2, 0}, counters), 0);
    EXPECT_EQ(counters.bytes, 3 * std::uint64_t{0xffffffffu});
    EXPECT_EQ(counters.packets, 3u);
}

// A table counted into again after a walk takes new keys, and the next walk
// has them in their places.
TEST_P(kind_and_mode_test, counting_after_a_walk_keeps_order_and_counts) {
    frame_view packet;
    packet.wire_length = 10;
    for (const std::uint32_t value : {40u, 0x90000000u, 7u}) {
        count_packet(table(), table_key{value, 0}, packet);
    }
    ASSERT_EQ(walk_table(table()).size(), 3u);
    for (const std::uint32_t value : {0x90000000u, 0x20000000u, 3u, 40u}) {
        count_packet(table(), table_key{value, 0}, packet);
    }
    const std::vector<report_row> rows = walk_table(table());
    const std::vector<table_key> expected = {
        {3, 0}, {7, 0}, {40, 0}, {0x20000000u, 0}, {0x90000000u, 0}};
    EXPECT_EQ(keys_of(rows), expected);
    std::map<std::uint32_t, std::uint64_t> packets;
    for (const report_row& row : rows) {
        packets[row.key.value] = row.packets;
    }
    EXPECT_EQ(packets[40], 2u);
    EXPECT_EQ(packets[0x90000000u], 2u);
    EXPECT_EQ(packets[3], 1u);
}

TEST_P(kind_and_mode_test, value_zero_and_empty_counters_are_refused) {
    // A key of value 0 opens a walk, and every stored entry has a packet.
    errno = 0;
    EXPECT_EQ(add_entry(table(), table_key{0, 0}, table_counters{1, 1}), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(add_entry(table(), table_key{9, 0}, table_counters{5, 0}), -1);
    EXPECT_EQ(walk_table(table()).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    every_kind, kind_and_mode_test,
    ::testing::Combine(::testing::ValuesIn(every_kind), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<std::uint32_t, bool>>& info) {
        return std::string(stat_kind_name(std::get<0>(info.param))) +
               (std::get<1>(info.param) ? "_split" : "_merged");
    });

TEST_F(tables_test, split_directions_are_separate_entries_merged_ones_are_one) {
    for (const bool split : {true, false}) {
        config.direction_split = split;
        ASSERT_EQ(create_tables(stat_port | stat_host, accounting_context_of(config)), 0);
        for (stat_table& table : stat_tables) {
            for (const table_key key : {table_key{6, 0}, table_key{5, 1}, table_key{5, 0}}) {
                ASSERT_EQ(add_entry(table, key, table_counters{key.value, 1}), 0);
            }
            const std::vector<table_key> expected =
                split ? std::vector<table_key>{{5, 0}, {5, 1}, {6, 0}}
                      : std::vector<table_key>{{5, 0}, {6, 0}};
            EXPECT_EQ(keys_of(walk_table(table)), expected)
                << stat_kind_name(table.kind) << (split ? " split" : " merged");
            table_counters counters{};
            EXPECT_EQ(find_entry(table, table_key{6, 1}, counters), split ? 1 : 0);
        }
        close_tables();
    }
}

// Directions the accounting never makes still take their places in the
// order, between the ones it does make.
TEST_F(tables_test, unusual_directions_sort_among_the_usual_ones) {
    config.direction_split = true;
    ASSERT_EQ(create_tables(stat_port, accounting_context_of(config)), 0);
    stat_table& table = stat_tables[0];
    for (const table_key key :
         {table_key{6, 0}, table_key{5, 7}, table_key{5, 1}, table_key{5, -1}, table_key{5, 0},
          table_key{70000, -128}, table_key{70000, 0}}) {
        ASSERT_EQ(add_entry(table, key, table_counters{1, 1}), 0) << key;
    }
    const std::vector<table_key> expected = {{5, -1}, {5, 0},     {5, 1},    {5, 7},
                                             {6, 0},  {70000, -128}, {70000, 0}};
    EXPECT_EQ(keys_of(walk_table(table)), expected);
}

// Many keys spread over 32 bits, counted in a random order against a plain
// ordered map: the same entries, the same counters, in the same order.
TEST_F(tables_test, a_wide_table_agrees_with_an_ordered_map) {
    config.direction_split = true;
    ASSERT_EQ(create_tables(all_kinds, accounting_context_of(config)), 0);
    std::mt19937 random(5);
    std::vector<std::uint32_t> values(40000);
    for (auto& value : values) {
        value = static_cast<std::uint32_t>(random()) | 1u;
    }
    for (stat_table& table : stat_tables) {
        std::map<std::pair<std::uint32_t, int>, table_counters> expected;
        frame_view packet;
        for (int i = 0; i < 120000; ++i) {
            std::uint32_t value = values[random() % values.size()];
            if (i % 3 == 0) {
                value &= 0xffffu;  // into the direct slots of the small kinds
                value |= 1u;
            }
            const auto direction = static_cast<std::int8_t>(random() % 2);
            packet.wire_length = static_cast<std::uint32_t>(random() % 1500);
            count_packet(table, table_key{value, direction}, packet);
            table_counters& counters = expected[{value, direction}];
            counters.bytes += packet.wire_length;
            ++counters.packets;
        }
        const std::vector<report_row> rows = walk_table(table);
        ASSERT_EQ(rows.size(), expected.size()) << stat_kind_name(table.kind);
        auto want = expected.begin();
        for (const report_row& row : rows) {
            ASSERT_EQ(row.key.value, want->first.first);
            ASSERT_EQ(row.key.direction, want->first.second);
            ASSERT_EQ(row.bytes, want->second.bytes);
            ASSERT_EQ(row.packets, want->second.packets);
            ++want;
        }
    }
}

TEST_F(tables_test, closed_tables_refuse_every_operation) {
    ASSERT_EQ(create_tables(stat_total | stat_host), 0);
    ASSERT_EQ(add_entry(stat_tables[1], table_key{9, 0}, table_counters{1, 1}), 0);
    EXPECT_EQ(close_tables(), 0);
    EXPECT_EQ(stat_table_count, 2);
    table_key key{};
    table_counters counters{};
    for (stat_table& table : stat_tables) {
        EXPECT_EQ(find_entry(table, table_key{9, 0}, counters), -1);
        EXPECT_EQ(add_entry(table, table_key{9, 0}, counters), -1);
        EXPECT_EQ(next_entry(table, key, counters), -1);
        table_rows rows;
        EXPECT_EQ(take_rows(table, rows), -1);
        EXPECT_EQ(rows.size(), 0u);
    }
}

TEST_F(tables_test, kinds_outside_the_six_get_a_table_and_no_name) {
    ASSERT_EQ(create_tables(stat_total | (1u << 31)), 0);
    ASSERT_EQ(stat_table_count, 2);
    EXPECT_EQ(stat_tables[1].kind, 1u << 31);
    EXPECT_EQ(stat_kind_name(1u << 31), "");
    EXPECT_EQ(stat_kind_name(stat_total | stat_link), "");
    ASSERT_EQ(add_entry(stat_tables[1], table_key{12, 0}, table_counters{1, 1}), 0);
    EXPECT_EQ(walk_table(stat_tables[1]).size(), 1u);
}

}  // namespace
}  // namespace twstats
