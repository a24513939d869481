// Frames cut at every length, each in a heap block of exactly its size, so
// that the sanitizer build catches any read past the captured bytes (a real
// source hands frames inside larger buffers, where such a read goes unseen).

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "capture/frame_view.h"
#include "gen/frame_builder.h"
#include "gen/traffic_mix.h"
#include "cli/program_state.h"
#include "stats/accounting.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace {

struct link_case {
    int datalink;
    std::size_t link_header;
    std::uint32_t link_class;
    twgen::bytes frame;  // carries IPv4 TCP
};

std::vector<link_case> link_cases() {
    using namespace twgen;
    const bytes packet = ipv4(ipv4_address("10.0.0.1"), ipv4_address("10.0.0.2"), ip_tcp,
                              tcp(40000, 80, 4));
    const mac_address a = {0x02, 0, 0, 0, 0, 1};
    const mac_address b = {0x02, 0, 0, 0, 0, 2};
    return {
        {DLT_NULL, 4, link_class_null, null_link(2, packet)},
        {DLT_EN10MB, 14, link_class_ethernet, ethernet(a, b, ethertype_ipv4, packet)},
        {DLT_PPP, 4, link_class_ppp, ppp(0x0021, packet)},
        {DLT_RAW, 0, link_class_unknown, packet},
    };
}

struct decoded {
    std::uint32_t link_code = 0;
    std::uint32_t copied_length = 0;
    std::uint32_t counted_length = 0;
    int ipv4 = 0;
    std::optional<std::uint8_t> transport;
    int calls = 0;
};

void remember(const frame_view& frame, void* sink_arg) {
    auto& seen = *static_cast<decoded*>(sink_arg);
    seen.link_code = frame.link_code;
    seen.copied_length = static_cast<std::uint32_t>(frame.captured.size());
    seen.counted_length = frame.wire_length;
    seen.ipv4 = is_ipv4(frame);
    seen.transport = transport_protocol(frame);
    ++seen.calls;
}

// Decodes the first `length` bytes of frame from a block of exactly that size.
decoded decode_prefix(int datalink, std::span<const std::uint8_t> frame, std::size_t length,
                      packet_sink sink = remember, void* sink_arg = nullptr,
                      bool look_through = false) {
    decoded seen;
    const auto block = std::make_unique<std::uint8_t[]>(length);
    if (length != 0) {
        std::memcpy(block.get(), frame.data(), length);
    }
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(length);
    header.len = static_cast<bpf_u_int32>(frame.size());
    capture_context context;
    context.sink = sink;
    context.sink_arg = sink_arg != nullptr ? sink_arg : &seen;
    context.datalink = datalink;
    context.look_through = look_through;
    decode_frame(reinterpret_cast<unsigned char*>(&context), &header, block.get());
    return seen;
}

TEST(hostile_frames, every_prefix_is_decoded_within_its_captured_bytes) {
    reset_program_state();
    for (const link_case& c : link_cases()) {
        for (std::size_t length = 0; length <= c.frame.size(); ++length) {
            SCOPED_TRACE("data-link type " + std::to_string(c.datalink) + ", " +
                         std::to_string(length) + " bytes");
            const decoded seen = decode_prefix(c.datalink, c.frame, length);
            ASSERT_EQ(seen.calls, 1);
            EXPECT_EQ(seen.counted_length, c.frame.size());
            EXPECT_EQ(seen.copied_length, length > c.link_header ? length - c.link_header : 0);
            EXPECT_EQ(seen.link_code & 0xffu, c.link_class);
            if (length < c.link_header) {
                EXPECT_EQ(seen.link_code >> 8, 0u) << "classified from bytes it does not have";
            }
        }
    }
}

// A frame cut before its IPv4 protocol byte has none, even where the bytes
// after its view (in a source's buffer, another frame's) would give one.
TEST(hostile_frames, a_cut_frame_has_no_transport_protocol_of_an_earlier_one) {
    reset_program_state();
    for (const link_case& c : link_cases()) {
        if (c.link_class == link_class_unknown) {
            continue;
        }
        SCOPED_TRACE("data-link type " + std::to_string(c.datalink));
        ASSERT_EQ(decode_prefix(c.datalink, c.frame, c.frame.size()).transport, twgen::ip_tcp);
        const decoded cut = decode_prefix(c.datalink, c.frame, c.link_header + 9);
        ASSERT_EQ(cut.ipv4, 1);
        EXPECT_EQ(cut.transport, std::nullopt) << "absent, not protocol 0";
    }
}

// Packets per key value of one table, walked in key order.
std::vector<std::pair<std::uint32_t, std::uint64_t>> packets_by_value(std::uint32_t kind) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> entries;
    for (stat_table& table : stat_tables) {
        if (table.kind != kind) {
            continue;
        }
        table_key key;
        table_counters counters;
        while (next_entry(table, key, counters) == 0) {
            entries.emplace_back(key.value, counters.packets);
        }
    }
    return entries;
}

// A runt that an attacker sends after a real conversation must not be
// counted under the hosts and ports of the earlier frame: that would
// inflate another host's traffic.
TEST(hostile_frames, a_runt_is_not_counted_under_an_earlier_frames_keys) {
    reset_program_state();
    ASSERT_EQ(create_tables(stat_total | stat_ip | stat_port | stat_host), 0);
    accounting_context counting;
    const link_case ethernet = link_cases()[1];
    decode_prefix(ethernet.datalink, ethernet.frame, ethernet.frame.size(), accounting_sink,
                  &counting);
    const auto hosts = packets_by_value(stat_host);
    const auto ports = packets_by_value(stat_port);
    ASSERT_EQ(hosts.size(), 2u);
    ASSERT_EQ(ports.size(), 2u);

    // Cut inside the addresses, then inside the TCP ports.
    for (const std::size_t ip_bytes : {std::size_t{10}, std::size_t{15}, std::size_t{21}}) {
        decode_prefix(ethernet.datalink, ethernet.frame, ethernet.link_header + ip_bytes,
                      accounting_sink, &counting);
    }
    EXPECT_EQ(packets_by_value(stat_total).front().second, 4u);
    EXPECT_EQ(packets_by_value(stat_port), ports);
    const auto hosts_after = packets_by_value(stat_host);
    ASSERT_EQ(hosts_after.size(), 2u);
    for (const auto& [address, packets] : hosts_after) {
        EXPECT_EQ(packets, 2u) << "the 21-byte runt holds both addresses, the others neither";
    }
    close_tables();
}

}  // namespace

namespace {

// Counts the frame, after noting how many bytes its view captured.
struct measured_counting {
    accounting_context counting;
    std::size_t captured = 0;
};

void measure_and_count(const frame_view& frame, void* sink_arg) {
    auto& run = *static_cast<measured_counting*>(sink_arg);
    run.captured = frame.captured.size();
    accounting_sink(frame, &run.counting);
}

// Every link type and encapsulation the long options read, every tag stack
// and extension chain, cut at every byte and counted into tables with wide
// stores: a read past the captured bytes shows in the sanitizer build.
TEST(HostileDeepFrames, EveryPrefixIsReadWithinItsCapturedBytes) {
    reset_program_state();
    measured_counting run;
    run.counting.ipv6 = true;
    run.counting.direction_split = true;
    ASSERT_EQ(create_tables(stat_total | stat_link | stat_ip | stat_port | stat_host |
                                stat_network,
                            run.counting),
              0);
    std::uint64_t frames = 0;
    for (const int datalink : {DLT_NULL, DLT_EN10MB, DLT_PPP, DLT_PPP_SERIAL, DLT_LOOP,
                               DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6}) {
        twgen::mix_options mix = twgen::every_encapsulation_mix(datalink, 60);
        mix.max_length = 160;
        for (const twgen::frame& frame : twgen::generate_mix(mix).frames) {
            for (std::size_t length = 0; length <= frame.bytes.size(); ++length) {
                SCOPED_TRACE("data-link type " + std::to_string(datalink) + ", " +
                             std::to_string(length) + " bytes");
                decode_prefix(datalink, frame.bytes, length, measure_and_count, &run, true);
                ++frames;
                ASSERT_LE(run.captured, length);
            }
        }
    }
    // The link types the generator's mixes do not make.
    const auto udp = twgen::ipv4(twgen::ipv4_address("192.0.2.1"),
                                 twgen::ipv4_address("192.0.2.2"), twgen::ip_udp,
                                 twgen::udp(4000, 53, 8));
    for (const auto& [datalink, frame] :
         {std::pair{DLT_C_HDLC, twgen::cisco_hdlc(0x0800, udp)},
          std::pair{DLT_NFLOG, twgen::nflog(2, udp)}}) {
        for (std::size_t length = 0; length <= frame.size(); ++length) {
            SCOPED_TRACE("data-link type " + std::to_string(datalink) + ", " +
                         std::to_string(length) + " bytes");
            decode_prefix(datalink, frame, length, measure_and_count, &run, true);
            ++frames;
            ASSERT_LE(run.captured, length);
        }
    }
    EXPECT_EQ(packets_by_value(stat_total).front().second, frames);
    close_tables();
    reset_program_state();
}

}  // namespace
