// The store of IPv6 hosts and networks: its counts against an ordered map
// over key sets shaped as captures shape them (the hosts of few networks,
// networks alone, keys a single byte apart), its all-zero key, and the
// accounting of an IPv6 packet into it.

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "stats/wide_store.h"
#include "stats_fixture.h"

namespace twstats {
namespace {

wide_key key_of(std::uint64_t first, std::uint64_t second, int direction) {
    return wide_key{key16{first, second}, static_cast<std::int8_t>(direction)};
}

using key_maker = std::function<wide_key(std::mt19937_64&, std::size_t)>;

struct key_set_case {
    std::string name;
    std::size_t distinct;  // about how many keys the maker yields
    key_maker make;
};

void PrintTo(const key_set_case& c, std::ostream* out) { *out << c.name; }

const std::vector<key_set_case> key_sets = {
    {"HostsOfFewNetworks", 20000,
     [](std::mt19937_64& random, std::size_t i) {
         return key_of(0x00b80d0120 + (i % 3), random() % 7000, static_cast<int>(i % 2));
     }},
    {"NetworksAlone", 20000,
     [](std::mt19937_64& random, std::size_t i) {
         return key_of((random() % 10000) << 48 | 0xb80d01, 0, static_cast<int>(i % 2));
     }},
    {"OneByteApart", 16 * 255,
     [](std::mt19937_64& random, std::size_t) {
         std::array<std::uint8_t, 16> bytes{};
         bytes[random() % 16] = static_cast<std::uint8_t>(random() % 255 + 1);
         return wide_key{key16::of_bytes(bytes), 0};
     }},
    {"RandomWithTheZeroKey", 30000,
     [](std::mt19937_64& random, std::size_t i) {
         return i % 97 == 0 ? key_of(0, 0, static_cast<int>(i % 2))
                            : key_of(random() % 15000, random() % 2, static_cast<int>(i % 2));
     }},
};

class WideStoreKeys : public ::testing::TestWithParam<key_set_case> {
protected:
    void count_some(std::size_t counts) {
        for (std::size_t i = 0; i < counts; ++i) {
            const wide_key key = GetParam().make(random_, i);
            const auto length = static_cast<std::uint32_t>(random_() % 1500 + 1);
            ASSERT_EQ(store_.count(key, length), 0);
            table_counters& want = expected_[key];
            want.bytes += length;
            ++want.packets;
        }
        ASSERT_EQ(store_.size(), expected_.size());
    }

    void expect_rows_match() {
        const std::vector<wide_row> rows = store_.take_rows();
        ASSERT_EQ(rows.size(), expected_.size());
        auto want = expected_.begin();
        for (const wide_row& row : rows) {
            ASSERT_TRUE(row.key == want->first) << "row " << (&row - rows.data());
            ASSERT_EQ(row.bytes, want->second.bytes);
            ASSERT_EQ(row.packets, want->second.packets);
            ++want;
        }
        EXPECT_EQ(store_.size(), 0u);
        expected_.clear();
    }

    std::mt19937_64 random_{29};
    wide_store store_;
    std::map<wide_key, table_counters> expected_;
};

TEST_P(WideStoreKeys, RowsAreEveryCountInKeyOrderAndEmptyTheStore) {
    for (int round = 0; round < 2; ++round) {
        count_some(4 * GetParam().distinct);
        expect_rows_match();
    }
}

INSTANTIATE_TEST_SUITE_P(KeySets, WideStoreKeys, ::testing::ValuesIn(key_sets),
                         [](const ::testing::TestParamInfo<key_set_case>& info) {
                             return info.param.name;
                         });

// The all-zero key marks an empty slot, yet it is a key: the /64 network
// of ::1 is all zero.
TEST(WideStore, TheZeroKeyIsCountedInEachDirectionAndSortsFirst) {
    wide_store store;
    const wide_key zero_source = key_of(0, 0, 0);
    const wide_key zero_destination = key_of(0, 0, 1);
    const wide_key after = key_of(0, std::uint64_t{1} << 56, 0);
    ASSERT_EQ(store.count(after, 7), 0);
    ASSERT_EQ(store.count(zero_destination, 5), 0);
    ASSERT_EQ(store.count(zero_source, 3), 0);
    ASSERT_EQ(store.count(zero_source, 4), 0);
    EXPECT_EQ(store.size(), 3u);
    const std::vector<wide_row> rows = store.take_rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].key == zero_source);
    EXPECT_EQ(rows[0].bytes, 7u);
    EXPECT_EQ(rows[0].packets, 2u);
    EXPECT_TRUE(rows[1].key == zero_destination);
    EXPECT_TRUE(rows[2].key == after);
}

// The entry of a key as counts leave it, and a new key's entry made empty:
// what adding whole counters builds on.
TEST(WideStore, CountersOfAKeyAreTheEntryThatCountsAddTo) {
    wide_store store;
    const key16 key{0x00b80d0120, 0x0100000000000000};
    ASSERT_EQ(store.count(key, 1, 40), 0);
    table_counters* counted = store.counters_of(key, 1);
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted->bytes, 40u);
    EXPECT_EQ(counted->packets, 1u);
    table_counters* fresh = store.counters_of(key, 0);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->packets, 0u);
    EXPECT_EQ(store.size(), 2u);
}

using WideAccounting = stats_test;

twgen::ipv6_address address(std::uint8_t first, std::uint8_t last) {
    twgen::ipv6_address out{};
    out[0] = first;
    out[15] = last;
    return out;
}

wide_key key_of_address(const twgen::ipv6_address& bytes, bool network, int direction) {
    const key16 address = key16::of_bytes(bytes);
    return wide_key{network ? keys::ipv6_network_key(address) : address,
                    static_cast<std::int8_t>(direction)};
}

// Both sides of an IPv6 packet count into the Host and Network tables; the
// unspecified address has no key, the /64 of ::2 is all zero, and a packet
// to itself counts once unless directions are told apart.
TEST_F(WideAccounting, EachSideCountsOnceUnderItsHostAndNetwork) {
    for (const bool split : {false, true}) {
        config.ipv6 = true;
        config.direction_split = split;
        const twgen::ipv6_address unspecified{};
        const twgen::ipv6_address low = address(0, 2);
        const twgen::ipv6_address high = address(0x20, 9);
        const auto frame = [](const twgen::ipv6_address& a, const twgen::ipv6_address& b) {
            return ethernet_frame(twgen::ethertype_ipv6,
                                  twgen::ipv6(a, b, twgen::ip_udp, twgen::udp(53, 53)));
        };
        count_capture(std::vector<twgen::frame>{frame(unspecified, low), frame(low, high),
                                                frame(high, high)},
                      stat_host | stat_network);
        for (const std::uint32_t kind : {stat_host, stat_network}) {
            const bool network = kind == stat_network;
            const int to = split ? 1 : 0;
            std::map<wide_key, std::uint64_t> want;
            want[key_of_address(low, network, to)] += 1;   // from ::
            want[key_of_address(low, network, 0)] += 1;    // to high
            want[key_of_address(high, network, to)] += 1;  // from low
            want[key_of_address(high, network, 0)] += 1;   // high to itself
            if (split) {
                want[key_of_address(high, network, 1)] += 1;
            }
            std::map<wide_key, std::uint64_t> got;
            for (const wide_row& row : take_wide_rows(*table_of(kind))) {
                got[row.key] = row.packets;
            }
            EXPECT_EQ(got, want) << stat_kind_name(kind) << (split ? " split" : " merged");
        }
        close_tables();
        reset_program_state();
    }
}

}  // namespace
}  // namespace twstats
