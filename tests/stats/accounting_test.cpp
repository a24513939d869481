// The counting rules, over pcap files written by the generator's builders
// and read back through the capture-library source into the tables.

#include <arpa/inet.h>

#include <map>

#include "stats_fixture.h"

namespace twstats {
namespace {

constexpr std::uint32_t all_kinds =
    stat_total | stat_link | stat_ip | stat_port | stat_host | stat_network;

using accounting_test = stats_test;

// value -> packets of a table's walk, for tables where direction plays no
// part.
std::map<std::uint32_t, std::uint64_t> packets_by_value(std::uint32_t kind) {
    std::map<std::uint32_t, std::uint64_t> out;
    for (const report_row& row : rows_of(kind)) {
        out[row.key.value] += row.packets;
    }
    return out;
}

using counts = std::map<std::uint32_t, std::uint64_t>;

TEST_F(accounting_test, total_holds_every_frame_under_two_and_link_adds_up_to_it) {
    const std::vector<twgen::frame> frames = {
        tcp_frame("10.0.0.1", "10.0.0.2", 1000, 80),
        ethernet_frame(twgen::ethertype_arp, twgen::arp(1, 0x0a000001, 0x0a000002), 60),
        ethernet_frame(0x1234, twgen::filler(46), 1514),
        udp_frame("10.0.0.3", "10.0.0.4", 53, 53),
    };
    count_capture(frames, all_kinds);
    std::uint64_t wire_bytes = 0;
    for (const twgen::frame& frame : frames) {
        wire_bytes += frame.wire_length != 0 ? frame.wire_length : frame.bytes.size();
    }
    const std::vector<report_row> total = rows_of(stat_total);
    ASSERT_EQ(total.size(), 1u);
    EXPECT_EQ(total[0].key.value, 2u);
    EXPECT_EQ(total[0].packets, frames.size());
    EXPECT_EQ(total[0].bytes, wire_bytes);

    std::uint64_t link_bytes = 0;
    std::uint64_t link_packets = 0;
    for (const report_row& row : rows_of(stat_link)) {
        link_bytes += row.bytes;
        link_packets += row.packets;
    }
    EXPECT_EQ(link_bytes, wire_bytes);
    EXPECT_EQ(link_packets, frames.size());
    // Ethernet (2) carrying IPv4 (1), ARP (3) and an unlisted type (0), plus 1.
    EXPECT_EQ(packets_by_value(stat_link), (counts{{3, 1}, {2 + 3 * 256 + 1, 1}, {2 + 256 + 1, 2}}));
}

TEST_F(accounting_test, frames_without_ip_reach_total_and_link_only) {
    const std::vector<twgen::frame> frames = {
        ethernet_frame(twgen::ethertype_arp, twgen::arp(1, 0x0a000001, 0x0a000002)),
        ethernet_frame(twgen::ethertype_ipx, twgen::filler(40)),
    };
    count_capture(frames, all_kinds);
    EXPECT_EQ(rows_of(stat_total)[0].packets, 2u);
    EXPECT_EQ(rows_of(stat_link).size(), 2u);
    for (const std::uint32_t kind : {stat_ip, stat_port, stat_host, stat_network}) {
        EXPECT_TRUE(rows_of(kind).empty()) << stat_kind_name(kind);
    }
}

TEST_F(accounting_test, a_frame_of_an_unlisted_link_type_has_the_link_value_one) {
    count_capture(std::vector<twgen::frame>{{twgen::filler(30), 0, 0, 0}}, all_kinds,
                  DLT_IEEE802_11);
    EXPECT_EQ(packets_by_value(stat_link), (counts{{1, 1}}));
    EXPECT_TRUE(rows_of(stat_ip).empty());
}

TEST_F(accounting_test, ip_values_are_the_protocol_plus_one_for_both_versions) {
    const twgen::ipv6_address a{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const twgen::ipv6_address b{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const std::vector<twgen::frame> frames = {
        ipv4_frame("10.0.0.1", "10.0.0.2", 0, twgen::filler(8)),
        ipv4_frame("10.0.0.1", "10.0.0.2", twgen::ip_icmp, twgen::icmp_echo(8)),
        ethernet_frame(twgen::ethertype_ipv6, twgen::ipv6(a, b, twgen::ip_tcp, twgen::tcp(1000, 80))),
        ethernet_frame(twgen::ethertype_ipv6, twgen::ipv6(a, b, twgen::ip_udp, twgen::udp(53, 53))),
    };
    count_capture(frames, all_kinds);
    EXPECT_EQ(packets_by_value(stat_ip), (counts{{1, 1}, {2, 1}, {7, 1}, {18, 1}}));
    // IPv6 carrying TCP or UDP still reaches no Port, Host or Network entry.
    EXPECT_TRUE(rows_of(stat_port).empty());
    EXPECT_EQ(packets_by_value(stat_host),
              (counts{{host_value("10.0.0.1"), 2}, {host_value("10.0.0.2"), 2}}));
    EXPECT_EQ(packets_by_value(stat_network), (counts{{10, 2}}));
}

TEST_F(accounting_test, equal_sides_count_once_merged_and_twice_split) {
    const std::vector<twgen::frame> frames = {udp_frame("10.0.0.9", "10.0.0.9", 53, 53)};
    count_capture(frames, stat_total | stat_port | stat_host | stat_network);
    for (const std::uint32_t kind : {stat_port, stat_host, stat_network}) {
        const std::vector<report_row> rows = rows_of(kind);
        ASSERT_EQ(rows.size(), 1u) << stat_kind_name(kind);
        EXPECT_EQ(rows[0].key.direction, 0);
        EXPECT_EQ(rows[0].packets, 1u);
    }
    EXPECT_EQ(rows_of(stat_port)[0].key.value, 53u);
    close_tables();

    config.direction_split = true;
    count_capture(frames, stat_total | stat_port | stat_host | stat_network);
    for (const std::uint32_t kind : {stat_port, stat_host, stat_network}) {
        const std::vector<report_row> rows = rows_of(kind);
        ASSERT_EQ(rows.size(), 2u) << stat_kind_name(kind);
        EXPECT_EQ(rows[0].key.value, rows[1].key.value);
        EXPECT_EQ(rows[0].key.direction, 0);
        EXPECT_EQ(rows[1].key.direction, 1);
        EXPECT_EQ(rows[0].packets + rows[1].packets, 2u);
    }
}

TEST_F(accounting_test, split_directions_keep_sent_and_received_apart) {
    config.direction_split = true;
    const std::vector<twgen::frame> frames = {
        tcp_frame("10.0.0.1", "10.0.0.2", 1000, 80),
        tcp_frame("10.0.0.2", "10.0.0.1", 80, 1000),
        tcp_frame("10.0.0.1", "10.0.0.2", 1001, 80),
    };
    count_capture(frames, stat_total | stat_port | stat_host);
    const std::vector<table_key> ports = {{80, 0}, {80, 1}, {1000, 0}, {1000, 1}, {1001, 0}};
    EXPECT_EQ(keys_of(rows_of(stat_port)), ports);
    std::map<std::pair<std::uint32_t, int>, std::uint64_t> hosts;
    for (const report_row& row : rows_of(stat_host)) {
        hosts[{row.key.value, row.key.direction}] = row.packets;
    }
    const std::uint32_t one = host_value("10.0.0.1");
    const std::uint32_t two = host_value("10.0.0.2");
    EXPECT_EQ(hosts, (std::map<std::pair<std::uint32_t, int>, std::uint64_t>{
                         {{one, 0}, 2}, {{one, 1}, 1}, {{two, 0}, 1}, {{two, 1}, 2}}));
}

TEST_F(accounting_test, a_zero_port_has_no_key_and_its_other_side_still_counts) {
    count_capture(std::vector<twgen::frame>{tcp_frame("10.0.0.1", "10.0.0.2", 0, 443)},
                  stat_total | stat_port);
    EXPECT_EQ(packets_by_value(stat_port), (counts{{443, 1}}));
}

struct port_limit_case {
    const char* name;
    bool enabled;
    std::int32_t limit;
    counts expected;
};

void PrintTo(const port_limit_case& c, std::ostream* out) { *out << c.name; }

class port_limit_test : public stats_test,
                        public ::testing::WithParamInterface<port_limit_case> {};

TEST_P(port_limit_test, counts_only_ports_below_the_limit) {
    config.port_limit_enabled = GetParam().enabled;
    config.port_limit = GetParam().limit;
    const std::vector<twgen::frame> frames = {
        tcp_frame("10.0.0.1", "10.0.0.2", 51000, 80),
        udp_frame("10.0.0.1", "10.0.0.2", 1023, 1024),
        udp_frame("10.0.0.1", "10.0.0.2", 65535, 65535),
    };
    count_capture(frames, stat_total | stat_port);
    EXPECT_EQ(packets_by_value(stat_port), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    limits, port_limit_test,
    ::testing::Values(
        port_limit_case{"off", false, 1024,
                        {{80, 1}, {1023, 1}, {1024, 1}, {51000, 1}, {65535, 1}}},
        port_limit_case{"R_default_1024", true, 1024, {{80, 1}, {1023, 1}}},
        port_limit_case{"P_80", true, 80, {}},
        port_limit_case{"P_81", true, 81, {{80, 1}}},
        port_limit_case{"P_0", true, 0, {}},
        // A negative limit is a very large unsigned number: every port passes.
        port_limit_case{"P_negative", true, -1,
                        {{80, 1}, {1023, 1}, {1024, 1}, {51000, 1}, {65535, 1}}}),
    [](const ::testing::TestParamInfo<port_limit_case>& info) { return info.param.name; });

TEST_F(accounting_test, icmp_has_hosts_and_networks_but_no_ports) {
    count_capture(std::vector<twgen::frame>{ipv4_frame("172.16.5.4", "192.168.1.7",
                                                       twgen::ip_icmp, twgen::icmp_echo(16))},
                  all_kinds);
    EXPECT_TRUE(rows_of(stat_port).empty());
    EXPECT_EQ(rows_of(stat_host).size(), 2u);
    EXPECT_EQ(packets_by_value(stat_network), (counts{{44048, 1}, {0xc0a801, 1}}));
}

TEST_F(accounting_test, networks_follow_the_address_class_as_inet_netof_does) {
    const char* const addresses[] = {"10.1.2.3",     "127.255.0.1", "128.0.0.1",
                                     "172.16.5.4",   "191.255.3.3", "192.168.1.7",
                                     "223.1.2.3",    "224.0.0.5",   "255.255.255.254"};
    std::vector<twgen::frame> frames;
    counts expected;
    for (const char* address : addresses) {
        frames.push_back(ipv4_frame(address, "0.0.0.0", twgen::ip_icmp, twgen::icmp_echo()));
        in_addr parsed{};
        ASSERT_EQ(inet_aton(address, &parsed), 1);
        ++expected[static_cast<std::uint32_t>(inet_netof(parsed))];
    }
    count_capture(frames, stat_total | stat_network);
    EXPECT_EQ(packets_by_value(stat_network), expected);
    EXPECT_EQ(expected.count(10), 1u);
    EXPECT_EQ(expected.count(44048), 1u);
}

TEST_F(accounting_test, an_all_zero_address_has_no_host_or_network_key) {
    count_capture(std::vector<twgen::frame>{udp_frame("0.0.0.0", "255.255.255.255", 68, 67)},
                  all_kinds);
    EXPECT_EQ(packets_by_value(stat_host), (counts{{0xffffffffu, 1}}));
    EXPECT_EQ(packets_by_value(stat_network), (counts{{0xffffffu, 1}}));
    // A first byte of 0 gives network 0, which is no key either.
    close_tables();
    count_capture(std::vector<twgen::frame>{udp_frame("0.1.2.3", "10.0.0.1", 68, 67)},
                  stat_total | stat_network);
    EXPECT_EQ(packets_by_value(stat_network), (counts{{10, 1}}));
}

// Host values keep the header's byte order, so the walk follows the
// machine's reading of the four bytes as one number.
TEST_F(accounting_test, host_entries_walk_in_the_order_of_their_raw_values) {
    const char* const addresses[] = {"1.0.0.2", "2.0.0.1", "10.0.0.1", "192.168.0.1",
                                     "255.0.0.0", "0.0.0.255"};
    std::vector<twgen::frame> frames;
    std::vector<std::uint32_t> expected;
    for (const char* address : addresses) {
        frames.push_back(ipv4_frame(address, "0.0.0.0", twgen::ip_icmp, twgen::icmp_echo()));
        expected.push_back(host_value(address));
    }
    std::sort(expected.begin(), expected.end());
    count_capture(frames, stat_total | stat_host);
    std::vector<std::uint32_t> walked;
    for (const report_row& row : rows_of(stat_host)) {
        walked.push_back(row.key.value);
    }
    EXPECT_EQ(walked, expected);
}

TEST_F(accounting_test, byte_totals_go_past_32_bits) {
    std::vector<twgen::frame> frames;
    for (int i = 0; i < 3; ++i) {
        twgen::frame frame = tcp_frame("10.0.0.1", "10.0.0.2", 1000, 80);
        frame.wire_length = 0xf0000000u;
        frames.push_back(frame);
    }
    count_capture(frames, all_kinds);
    const std::uint64_t expected = 3 * std::uint64_t{0xf0000000u};
    EXPECT_EQ(rows_of(stat_total)[0].bytes, expected);
    for (const report_row& row : rows_of(stat_port)) {
        EXPECT_EQ(row.bytes, expected);
    }
}

// The transport header starts where the header length says.
TEST_F(accounting_test, ports_are_read_behind_header_options) {
    twgen::ipv4_options options;
    options.header_words = 7;
    count_capture(std::vector<twgen::frame>{ipv4_frame("10.0.0.1", "10.0.0.2", twgen::ip_tcp,
                                                       twgen::tcp(1234, 8080), options)},
                  stat_total | stat_port);
    EXPECT_EQ(packets_by_value(stat_port), (counts{{1234, 1}, {8080, 1}}));
}

TEST_F(accounting_test, a_header_length_below_five_words_gives_no_ports) {
    for (const std::uint8_t words : {0, 4}) {
        twgen::ipv4_options options;
        options.header_words = words;
        count_capture(std::vector<twgen::frame>{ipv4_frame("10.0.0.1", "10.0.0.2", twgen::ip_udp,
                                                           twgen::udp(53, 53), options)},
                      stat_total | stat_ip | stat_port | stat_host);
        EXPECT_TRUE(rows_of(stat_port).empty()) << int{words};
        EXPECT_EQ(packets_by_value(stat_ip), (counts{{18, 1}})) << int{words};
        EXPECT_EQ(rows_of(stat_host).size(), 2u) << int{words};
        close_tables();
    }
}

// A fragment after the first carries payload where ports would be; the
// first fragment has them.
TEST_F(accounting_test, later_fragments_have_no_ports_but_keep_their_other_keys) {
    twgen::ipv4_options later;
    later.fragment_offset = 185;
    twgen::ipv4_options first;
    first.more_fragments = true;
    const std::vector<twgen::frame> frames = {
        ipv4_frame("10.0.0.1", "172.16.0.2", twgen::ip_udp, twgen::udp(5000, 6000, 20), first),
        ipv4_frame("10.0.0.1", "172.16.0.2", twgen::ip_udp, twgen::filler(40, 0x77), later),
    };
    count_capture(frames, all_kinds);
    EXPECT_EQ(packets_by_value(stat_port), (counts{{5000, 1}, {6000, 1}}));
    EXPECT_EQ(packets_by_value(stat_ip), (counts{{18, 2}}));
    EXPECT_EQ(packets_by_value(stat_host),
              (counts{{host_value("10.0.0.1"), 2}, {host_value("172.16.0.2"), 2}}));
    EXPECT_EQ(packets_by_value(stat_network), (counts{{10, 2}, {44048, 2}}));
}

// Frames cut short by the snap length, each after a full frame of other
// values that left its bytes in the record: a key whose bytes were not
// captured is absent, never taken from the earlier frame.
struct short_capture_case {
    const char* name;
    std::size_t network_bytes;  // captured after the Ethernet header
    bool ip;
    bool hosts;
    bool ports;
};

void PrintTo(const short_capture_case& c, std::ostream* out) { *out << c.name; }

class short_capture_test : public stats_test,
                           public ::testing::WithParamInterface<short_capture_case> {};

TEST_P(short_capture_test, keys_whose_bytes_were_not_captured_are_absent) {
    const short_capture_case& c = GetParam();
    const twgen::frame full = tcp_frame("10.9.9.9", "10.8.8.8", 7777, 8888);
    twgen::frame cut = udp_frame("192.168.1.1", "192.168.1.2", 53, 54);
    cut.wire_length = static_cast<std::uint32_t>(cut.bytes.size());
    cut.bytes.resize(14 + c.network_bytes);
    count_capture(std::vector<twgen::frame>{full, cut}, all_kinds);

    EXPECT_EQ(rows_of(stat_total)[0].packets, 2u);
    EXPECT_EQ(packets_by_value(stat_link), (counts{{2 + 256 + 1, 2}}));
    EXPECT_EQ(packets_by_value(stat_ip), (c.ip ? counts{{7, 1}, {18, 1}} : counts{{7, 1}}));
    const counts full_hosts = {{host_value("10.9.9.9"), 1}, {host_value("10.8.8.8"), 1}};
    counts hosts = full_hosts;
    if (c.hosts) {
        hosts[host_value("192.168.1.1")] = 1;
        hosts[host_value("192.168.1.2")] = 1;
    }
    EXPECT_EQ(packets_by_value(stat_host), hosts);
    EXPECT_EQ(packets_by_value(stat_network),
              (c.hosts ? counts{{10, 1}, {0xc0a801, 1}} : counts{{10, 1}}));
    counts ports = {{7777, 1}, {8888, 1}};
    if (c.ports) {
        ports[53] = 1;
        ports[54] = 1;
    }
    EXPECT_EQ(packets_by_value(stat_port), ports);
}

INSTANTIATE_TEST_SUITE_P(
    cuts, short_capture_test,
    ::testing::Values(short_capture_case{"nothing_after_the_link_header", 0, false, false, false},
                      short_capture_case{"up_to_the_fragment_field", 8, false, false, false},
                      short_capture_case{"protocol_byte", 10, true, false, false},
                      short_capture_case{"source_address_only", 16, true, false, false},
                      short_capture_case{"one_byte_short_of_both_addresses", 19, true, false,
                                         false},
                      short_capture_case{"both_addresses", 20, true, true, false},
                      short_capture_case{"source_port_only", 22, true, true, false},
                      short_capture_case{"one_byte_short_of_both_ports", 23, true, true, false},
                      short_capture_case{"both_ports", 24, true, true, true}),
    [](const ::testing::TestParamInfo<short_capture_case>& info) { return info.param.name; });

TEST_F(accounting_test, an_ipv6_frame_without_its_next_header_byte_has_no_ip_key) {
    const twgen::ipv6_address a{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    twgen::frame cut = ethernet_frame(twgen::ethertype_ipv6, twgen::ipv6(a, a, 58, twgen::filler(8)));
    cut.wire_length = static_cast<std::uint32_t>(cut.bytes.size());
    cut.bytes.resize(14 + 6);
    twgen::frame whole = cut;
    whole.bytes = twgen::ethernet(station_b, station_a, twgen::ethertype_ipv6,
                                  twgen::ipv6(a, a, 58, twgen::filler(8)));
    count_capture(std::vector<twgen::frame>{whole, cut}, stat_total | stat_ip);
    EXPECT_EQ(packets_by_value(stat_ip), (counts{{59, 1}}));
    EXPECT_EQ(rows_of(stat_total)[0].packets, 2u);
}

}  // namespace
}  // namespace twstats
