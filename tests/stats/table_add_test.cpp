// Adding whole tables: counts split over two tables and added up must give
// the rows of one table that counted them all, byte for byte, through the
// small tables' lookups and the large tables' merge of a sorted run alike;
// and rows that no report holds (a key twice, a sum past 2^64 - 1, a key
// that names nothing) are refused with the key to name.

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "stats/counting_table.h"
#include "stats/table_keys.h"
#include "stats_fixture.h"

namespace twstats {
namespace {

struct split_case {
    std::string name;
    std::uint32_t kind;
    bool direction_split;
    std::uint32_t distinct;  // keys drawn from; past 32768 a table merges runs
};

class TableAdd : public ::testing::TestWithParam<split_case> {};

std::unique_ptr<counting_table> open_table(const split_case& c) {
    const bool wide = c.kind == stat_host || c.kind == stat_network;
    std::unique_ptr<counting_table> table =
        counting_table::open(keys::small_value_bound(c.kind), c.direction_split, false, wide);
    EXPECT_TRUE(table);
    return table;
}

// Counts the same packets into whole, and each into one of the two halves.
void count_everywhere(const split_case& c, counting_table& whole, counting_table& first,
                      counting_table& second) {
    std::mt19937 random(7);
    std::vector<std::uint32_t> values(c.distinct);
    // Past the dense slots too, so that both parts of a table are added.
    const std::uint32_t bound = keys::small_value_bound(c.kind);
    const std::uint32_t range = bound != 0 ? bound * 4 : 0xfffffff0u;
    for (std::uint32_t& value : values) {
        value = 1 + static_cast<std::uint32_t>(random() % (range - 1));
    }
    for (std::uint32_t packet = 0; packet < c.distinct * 3; ++packet) {
        const table_key key{values[random() % values.size()],
                            static_cast<std::int8_t>(c.direction_split ? random() % 2 : 0)};
        const auto length = static_cast<std::uint32_t>(60 + random() % 1455);
        ASSERT_EQ(whole.count(key, length), 0);
        ASSERT_EQ((packet % 2 == 0 ? first : second).count(key, length), 0);
        if (whole.wide() != nullptr && packet % 5 == 0) {
            const key16 address{random() % 64, random() % 64};
            const int direction = c.direction_split ? static_cast<int>(random() % 2) : 0;
            ASSERT_EQ(whole.wide()->count(address, direction, length), 0);
            ASSERT_EQ((packet % 3 == 0 ? first : second).wide()->count(address, direction, length),
                      0);
        }
    }
}

TEST_P(TableAdd, CountedApartThenAddedIsCountedTogether) {
    const split_case& c = GetParam();
    auto whole = open_table(c);
    auto first = open_table(c);
    auto second = open_table(c);
    ASSERT_TRUE(whole && first && second);
    count_everywhere(c, *whole, *first, *second);

    ASSERT_EQ(second->add_table(*first).outcome, counting_table::add_outcome::added);
    EXPECT_EQ(first->size() + first->wide_size(), 0u) << "the added table is left empty";

    table_rows want;
    table_rows got;
    ASSERT_EQ(whole->take_rows(want), 0);
    ASSERT_EQ(second->take_rows(got), 0);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t at = 0; at < want.size(); ++at) {
        const report_row& w = want.rows()[at];
        const report_row& g = got.rows()[at];
        ASSERT_EQ(g.key, w.key) << "row " << at;
        ASSERT_EQ((table_counters{g.bytes, g.packets}), (table_counters{w.bytes, w.packets}))
            << "row " << at << " " << w.key;
    }
    const std::vector<wide_row> wide_want = whole->take_wide_rows();
    const std::vector<wide_row> wide_got = second->take_wide_rows();
    ASSERT_EQ(wide_got.size(), wide_want.size());
    for (std::size_t at = 0; at < wide_want.size(); ++at) {
        EXPECT_TRUE(wide_got[at].key == wide_want[at].key) << "wide row " << at;
        EXPECT_EQ(wide_got[at].bytes, wide_want[at].bytes) << "wide row " << at;
        EXPECT_EQ(wide_got[at].packets, wide_want[at].packets) << "wide row " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TableAdd,
    ::testing::Values(split_case{"Link", stat_link, false, 40},
                      split_case{"PortSplit", stat_port, true, 5000},
                      split_case{"SmallHosts", stat_host, false, 2000},
                      split_case{"ManyHostsSplit", stat_host, true, 60000},
                      split_case{"ManyNetworks", stat_network, false, 90000}),
    [](const auto& info) { return info.param.name; });

struct refusal_case {
    std::string name;
    std::uint32_t kind;
    bool direction_split;
    std::uint32_t rows_before;  // counted first: past 32768 the run is merged
    std::vector<report_row> rows;
    std::vector<wide_row> wide_rows;
    counting_table::add_outcome outcome;
    std::variant<table_key, wide_key> key;
};

class TableAddRefusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(TableAddRefusal, NamesTheKey) {
    const refusal_case& c = GetParam();
    auto table = counting_table::open(keys::small_value_bound(c.kind), c.direction_split, false,
                                      c.kind == stat_host);
    ASSERT_TRUE(table);
    for (std::uint32_t value = 1; value <= c.rows_before; ++value) {
        ASSERT_EQ(table->count(table_key{value * 16, 0}, 60), 0);
    }
    std::vector<report_row> rows = c.rows;
    std::vector<wide_row> wide_rows = c.wide_rows;
    const counting_table::add_result added = table->add_rows(rows, wide_rows);
    EXPECT_EQ(added.outcome, c.outcome);
    EXPECT_TRUE(added.key == c.key);
}

constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
const std::vector<report_row> some_ports = {{{80, 0}, 100, 1}, {{443, 1}, 200, 2}};

INSTANTIATE_TEST_SUITE_P(
    Rows, TableAddRefusal,
    ::testing::Values(
        refusal_case{"PortTwice", stat_port, true, 0,
                     {{{443, 1}, 5, 1}, {{80, 0}, 1, 1}, {{443, 1}, 7, 1}}, {},
                     counting_table::add_outcome::repeated, table_key{443, 1}},
        refusal_case{"PortOfBothSidesWithoutTheSplit", stat_port, false, 0,
                     {{{443, 0}, 5, 1}, {{443, 1}, 7, 1}}, {},
                     counting_table::add_outcome::repeated, table_key{443, 1}},
        refusal_case{"HostTwice", stat_host, false, 0,
                     {{{0x0a000001, 0}, 5, 1}, {{0x0a000001, 0}, 7, 1}}, {},
                     counting_table::add_outcome::repeated, table_key{0x0a000001, 0}},
        refusal_case{"WideHostTwice", stat_host, true, 0, {},
                     {{wide_key{key16{1, 2}, 1}, 5, 1}, {wide_key{key16{1, 2}, 1}, 7, 1}},
                     counting_table::add_outcome::repeated, wide_key{key16{1, 2}, 1}},
        refusal_case{"PortSumPastTheLimit", stat_port, false, 1,
                     {{{16, 0}, most, 1}}, {}, counting_table::add_outcome::past_limit,
                     table_key{16, 0}},
        refusal_case{"SmallHostTableSumPastTheLimit", stat_host, false, 100,
                     {{{32, 0}, 1, most}}, {}, counting_table::add_outcome::past_limit,
                     table_key{32, 0}},
        refusal_case{"LargeHostTableSumPastTheLimit", stat_host, false, 40000,
                     {{{7, 0}, 1, 1}, {{32000, 0}, most - 10, 1}}, {},
                     counting_table::add_outcome::past_limit, table_key{32000, 0}},
        refusal_case{"WideHostOfBothSidesWithoutTheSplit", stat_host, false, 0, {},
                     {{wide_key{key16{1, 2}, 0}, most, 1}, {wide_key{key16{1, 2}, 1}, 1, 1}},
                     counting_table::add_outcome::repeated, wide_key{key16{1, 2}, 1}},
        refusal_case{"NoKey", stat_host, false, 0, {{{0, 0}, 1, 1}}, {},
                     counting_table::add_outcome::no_key, table_key{0, 0}}),
    [](const auto& info) { return info.param.name; });

// A sum of exactly 2^64 - 1 is a sum like any other.
TEST(TableAddLimit, ASumOfTheLargestCountIsAdded) {
    auto table = counting_table::open(keys::small_value_bound(stat_port), false, false, false);
    ASSERT_TRUE(table);
    std::vector<report_row> rows = {{{80, 0}, most - 1, 1}};
    ASSERT_EQ(table->add_rows(rows, {}).outcome, counting_table::add_outcome::added);
    rows = {{{80, 0}, 1, 1}};
    ASSERT_EQ(table->add_rows(rows, {}).outcome, counting_table::add_outcome::added);
    table_counters counters;
    ASSERT_EQ(table->find(table_key{80, 0}, counters), 0);
    EXPECT_EQ(counters.bytes, most);
    EXPECT_EQ(counters.packets, 2u);
}

TEST(TableAddLimit, AWideSumPastTheLimitIsRefused) {
    auto table = counting_table::open(keys::small_value_bound(stat_host), true, false, true);
    ASSERT_TRUE(table);
    const wide_key key{key16{1, 2}, 1};
    std::vector<wide_row> rows = {{key, most, 1}};
    ASSERT_EQ(table->add_rows({}, rows).outcome, counting_table::add_outcome::added);
    rows = {{key, 1, 1}};
    const counting_table::add_result added = table->add_rows({}, rows);
    EXPECT_EQ(added.outcome, counting_table::add_outcome::past_limit);
    EXPECT_TRUE(added.key == (std::variant<table_key, wide_key>(key)));
}

}  // namespace
}  // namespace twstats
