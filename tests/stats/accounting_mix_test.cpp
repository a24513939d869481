// The generator's traffic mix over every link layer, counted through a real
// pcap file, against counts worked out from the generator's own record of
// what it put into each frame.

#include <arpa/inet.h>

#include <map>
#include <tuple>

#include "gen/traffic_mix.h"
#include "stats_fixture.h"

namespace twstats {
namespace {

using entry_counts = std::map<std::pair<std::uint32_t, int>, table_counters>;

// What every table should hold after the frames of facts, under the current
// settings.
struct expected_tables {
    std::map<std::uint32_t, entry_counts> by_kind;
    bool split = false;  // -d

    void count(std::uint32_t kind, std::uint32_t value, int direction,
               const twgen::frame_fact& fact) {
        table_counters& counters = by_kind[kind][{value, direction}];
        counters.bytes += fact.wire_length;
        ++counters.packets;
    }

    void count_sides(std::uint32_t kind, std::uint32_t source, std::uint32_t destination,
                     const twgen::frame_fact& fact) {
        if (source != 0) {
            count(kind, source, 0, fact);
        }
        if (destination != 0 && (split || destination != source)) {
            count(kind, destination, split ? 1 : 0, fact);
        }
    }

    void add(const twgen::frame_fact& fact) {
        count(stat_total, 2, 0, fact);
        if (fact.ip_version == 0) {
            return;
        }
        count(stat_ip, std::uint32_t{fact.protocol} + 1, 0, fact);
        if (fact.ip_version != 4) {
            return;
        }
        if (fact.has_ports) {
            count_sides(stat_port, fact.src_port, fact.dst_port, fact);
        }
        count_sides(stat_host, htonl(fact.src), htonl(fact.dst), fact);
        count_sides(stat_network, inet_netof(in_addr{htonl(fact.src)}),
                    inet_netof(in_addr{htonl(fact.dst)}), fact);
    }
};

entry_counts walked(std::uint32_t kind) {
    entry_counts out;
    for (const report_row& row : rows_of(kind)) {
        out[{row.key.value, row.key.direction}] = table_counters{row.bytes, row.packets};
    }
    return out;
}

class mix_test : public stats_test,
                 public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(mix_test, every_table_matches_the_generators_record) {
    twgen::mix_options options;
    options.frames = 4000;
    options.datalink = std::get<0>(GetParam());
    options.hosts = 300;
    options.ports = 80;
    options.seed = 21;
    const twgen::generated_capture capture = twgen::generate_mix(options);
    config.direction_split = std::get<1>(GetParam());

    count_capture(capture.frames,
                  stat_total | stat_link | stat_ip | stat_port | stat_host | stat_network,
                  options.datalink, options.snap_length);

    expected_tables expected;
    expected.split = config.direction_split;
    for (const twgen::frame_fact& fact : capture.facts) {
        expected.add(fact);
    }
    for (const std::uint32_t kind : {stat_total, stat_ip, stat_port, stat_host, stat_network}) {
        const entry_counts got = walked(kind);
        EXPECT_EQ(got.size(), expected.by_kind[kind].size()) << stat_kind_name(kind);
        EXPECT_TRUE(got == expected.by_kind[kind]) << stat_kind_name(kind);
    }
    // Every frame has one Link entry; together they make the Total.
    table_counters link_sum{};
    for (const auto& [key, counters] : walked(stat_link)) {
        link_sum.bytes += counters.bytes;
        link_sum.packets += counters.packets;
    }
    EXPECT_TRUE((link_sum == expected.by_kind[stat_total][{2, 0}]));
}

INSTANTIATE_TEST_SUITE_P(
    links, mix_test,
    ::testing::Combine(::testing::Values(DLT_EN10MB, DLT_NULL, DLT_PPP), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
        const int datalink = std::get<0>(info.param);
        return std::string(datalink == DLT_EN10MB ? "ethernet"
                           : datalink == DLT_NULL ? "null"
                                                  : "ppp") +
               (std::get<1>(info.param) ? "_split" : "_merged");
    });

}  // namespace
}  // namespace twstats
