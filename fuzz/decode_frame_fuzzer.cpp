// Arbitrary frames of every data-link type through the decoder and the
// accounting, with the tables checked against what was fed in.
//
// Input: one control byte, then the frame.
//   bits 0-1  data-link type: DLT_NULL, DLT_EN10MB, DLT_PPP, or one the
//             decoder does not know
//   bit  2    -d (each value has tables of its own: it orders their keys)
//   bits 3-4  port limit: none, -R, -P 0, -P -1
//   bits 5-6  wire length: the captured length, 65535, 0, 2^32-1
//   bit  7    --look-through and --ipv6; a second byte then chooses the
//             data-link type among every one they read (bits 0-1 unused)
// Before a set of tables is renewed, every table is walked and checked
// against the frames fed into it. A walk scans whole slot ranges, so it
// runs once per set, not per input; a fault it finds depends on the inputs
// since the renewal, not only on the last.

#include <pcap/pcap.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "capture/frame_view.h"
#include "fuzz_support.h"
#include "cli/program_state.h"
#include "stats/accounting.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace {

constexpr std::array<int, 4> datalinks = {DLT_NULL, DLT_EN10MB, DLT_PPP, DLT_LINUX_SLL};
constexpr std::array<int, 12> deep_datalinks = {
    DLT_NULL, DLT_EN10MB, DLT_PPP,  DLT_PPP_SERIAL, DLT_LOOP, DLT_LINUX_SLL,
    DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_FDDI, DLT_EN10MB};

// Renewing the tables now and then keeps memory flat over millions of
// inputs and keeps every walk short.
constexpr int inputs_per_table_set = 256;

struct fed_totals {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

// One set of tables per value of -d and of the long options, each made
// under its own key order and with its own wide stores; the set in use is
// moved into stat_tables for the length of one input.
struct table_set {
    std::vector<stat_table> tables;
    fed_totals fed;
    int inputs = inputs_per_table_set;  // renewed before its first input
};

std::array<table_set, 4> table_sets;

void check_tables(const fed_totals& fed);

// Makes the set of these settings the program's tables, renewed when due.
// The tables' direction split goes with them: the walk orders keys by it.
table_set& enter_table_set(const accounting_context& counting) {
    table_set& set = table_sets[(counting.direction_split ? 1 : 0) + (counting.ipv6 ? 2 : 0)];
    std::swap(stat_tables, set.tables);
    stat_tables_direction_split = counting.direction_split;
    if (set.inputs == inputs_per_table_set) {
        if (!stat_tables.empty()) {
            check_tables(set.fed);
        }
        twfuzz::renew_tables(twfuzz::all_kinds, counting);
        set.fed = {};
        set.inputs = 0;
    }
    ++set.inputs;
    return set;
}

void leave_table_set(table_set& set) { std::swap(stat_tables, set.tables); }

void set_port_limit(accounting_context& counting, unsigned mode) {
    counting.port_limit_enabled = mode != 0;
    switch (mode) {
    case 1: counting.port_limit = 1024; break;
    case 2: counting.port_limit = 0; break;
    case 3: counting.port_limit = -1; break;
    default: break;
    }
}

std::uint32_t wire_length(unsigned mode, std::uint32_t captured) {
    switch (mode) {
    case 1: return 65535;
    case 2: return 0;
    case 3: return 0xffffffffu;
    default: return captured;
    }
}

// Walks one table and returns the sum of its counters; any entry out of
// order, under the value 0 or without a packet is a fault.
fed_totals walk(stat_table& table) {
    fed_totals sum;
    table_key key;
    table_key previous;
    table_counters counters;
    bool first = true;
    int status;
    while ((status = next_entry(table, key, counters)) == 0) {
        if (key.value == 0 || counters.packets == 0) {
            twfuzz::fail("entry under value 0 or without packets");
        }
        if (!first && compare_keys(previous, key) >= 0) {
            twfuzz::fail("walk out of key order");
        }
        sum.bytes += counters.bytes;
        sum.packets += counters.packets;
        previous = key;
        first = false;
    }
    if (status != 1) {
        twfuzz::fail("next_entry error");
    }
    return sum;
}

// Total holds every frame fed since the renewal, and so does Link, whose
// entries split the same frames by encapsulation.
void check_tables(const fed_totals& fed) {
    for (stat_table& table : stat_tables) {
        const fed_totals sum = walk(table);
        if ((table.kind == stat_total || table.kind == stat_link) &&
            (sum.bytes != fed.bytes || sum.packets != fed.packets)) {
            twfuzz::fail("Total or Link differs from the frames fed");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const unsigned control = data[0];
    const bool deep = (control & 0x80) != 0;
    if (deep && size < 2) {
        return 0;
    }
    accounting_context counting;
    counting.direction_split = (control & 0x04) != 0;
    counting.ipv6 = deep;
    set_port_limit(counting, (control >> 3) & 3);
    table_set& set = enter_table_set(counting);

    // The frame stays in the fuzzer's own exactly sized buffer, so that a
    // read past its captured bytes is caught.
    const std::span<const std::uint8_t> frame = std::span(data, size).subspan(deep ? 2 : 1);
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = wire_length((control >> 5) & 3, header.caplen);

    capture_context context;
    context.sink = accounting_sink;
    context.sink_arg = &counting;
    context.look_through = deep;
    context.datalink =
        deep ? deep_datalinks[data[1] % deep_datalinks.size()] : datalinks[control & 3];
    decode_frame(reinterpret_cast<unsigned char*>(&context), &header, frame.data());
    set.fed.bytes += header.len;
    set.fed.packets += 1;
    leave_table_set(set);
    return 0;
}
