#pragma once

// What the statistics tests share: fresh program state around every test,
// the report's walk of a table, and captures written to real pcap files and
// counted the way a run counts them.

#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "capture/sources.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "cli/program_state.h"
#include "stats/accounting.h"
#include "stats/stat_tables.h"
#include "support/process.h"

namespace tallywire {

// Keys compare and print in test messages (found by argument lookup).
inline bool operator==(const table_key& a, const table_key& b) {
    return a.value == b.value && a.direction == b.direction;
}

inline std::ostream& operator<<(std::ostream& out, const table_key& key) {
    return out << "(" << key.value << ", " << int{key.direction} << ")";
}

inline bool operator==(const table_counters& a, const table_counters& b) {
    return a.bytes == b.bytes && a.packets == b.packets;
}

}  // namespace tallywire

using namespace tallywire;

namespace twstats {

class stats_test : public ::testing::Test {
protected:
    void SetUp() override { reset_program_state(); }
    void TearDown() override {
        close_tables();
        reset_program_state();
    }

    // count_capture_with (below) under this test's config.
    void count_capture(std::span<const twgen::frame> frames, std::uint32_t kinds,
                       int datalink = DLT_EN10MB, std::uint32_t snap_length = 65535);

    // The settings of the run under test; tables are created under them.
    run_config config;
};

// Every entry of a table in walk order; the walk must end with status 1.
inline std::vector<report_row> walk_table(stat_table& table) {
    std::vector<report_row> rows;
    table_key key{};
    table_counters counters{};
    int status;
    while ((status = next_entry(table, key, counters)) == 0) {
        rows.push_back(report_row{key, counters.bytes, counters.packets});
    }
    EXPECT_EQ(status, 1) << "a walk ends with status 1";
    return rows;
}

inline stat_table* table_of(std::uint32_t kind) {
    for (stat_table& table : stat_tables) {
        if (table.kind == kind) {
            return &table;
        }
    }
    ADD_FAILURE() << "no table of kind " << kind;
    return nullptr;
}

inline std::vector<report_row> rows_of(std::uint32_t kind) {
    stat_table* table = table_of(kind);
    return table ? walk_table(*table) : std::vector<report_row>{};
}

// Writes the frames to a pcap file, opens fresh tables of kinds under the
// config's counting settings and counts the file into them through the
// capture-library source, as a run does.
inline void count_capture_with(const run_config& config, std::span<const twgen::frame> frames,
                               std::uint32_t kinds, int datalink = DLT_EN10MB,
                               std::uint32_t snap_length = 65535) {
    twtest::temp_dir folder;
    run_config run = config;
    run.source_name = folder.file("capture.pcap");
    run.mode.live = false;
    twgen::write_pcap(run.source_name, datalink, snap_length, frames);
    accounting_context counting = accounting_context_of(run);
    ASSERT_EQ(create_tables(kinds, counting), 0);
    ASSERT_EQ(run_pcap_source(run, accounting_sink, &counting), 0);
}

inline void stats_test::count_capture(std::span<const twgen::frame> frames, std::uint32_t kinds,
                                      int datalink, std::uint32_t snap_length) {
    count_capture_with(config, frames, kinds, datalink, snap_length);
}

inline const twgen::mac_address station_a{0x02, 0, 0, 0, 0, 0x0a};
inline const twgen::mac_address station_b{0x02, 0, 0, 0, 0, 0x0b};

inline twgen::frame ethernet_frame(std::uint16_t ether_type, std::span<const std::uint8_t> payload,
                                   std::uint32_t wire_length = 0) {
    twgen::frame out;
    out.bytes = twgen::ethernet(station_b, station_a, ether_type, payload);
    out.wire_length = wire_length;
    return out;
}

inline twgen::frame ipv4_frame(const char* src, const char* dst, std::uint8_t protocol,
                               std::span<const std::uint8_t> payload,
                               const twgen::ipv4_options& options = {}) {
    return ethernet_frame(twgen::ethertype_ipv4,
                          twgen::ipv4(twgen::ipv4_address(src), twgen::ipv4_address(dst),
                                      protocol, payload, options));
}

inline twgen::frame tcp_frame(const char* src, const char* dst, std::uint16_t src_port,
                              std::uint16_t dst_port) {
    return ipv4_frame(src, dst, twgen::ip_tcp, twgen::tcp(src_port, dst_port, 10));
}

inline twgen::frame udp_frame(const char* src, const char* dst, std::uint16_t src_port,
                              std::uint16_t dst_port) {
    return ipv4_frame(src, dst, twgen::ip_udp, twgen::udp(src_port, dst_port, 10));
}

// The Host value of a dotted address: its four bytes in wire order, read
// as one number.
inline std::uint32_t host_value(const char* dotted) {
    const auto bytes = twgen::ipv4_bytes(twgen::ipv4_address(dotted));
    std::uint32_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

// The keys of the rows, in row order.
inline std::vector<table_key> keys_of(std::span<const report_row> rows) {
    std::vector<table_key> keys;
    for (const report_row& row : rows) {
        keys.push_back(row.key);
    }
    return keys;
}

}  // namespace twstats
