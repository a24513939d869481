// One frame through decode_frame and account_packet, over frames of the
// generator's mix as the benchmark captures hold them.

#include <benchmark/benchmark.h>

#include <pcap/pcap.h>

#include <vector>

#include "bench_support.h"
#include "capture/frame_view.h"
#include "gen/traffic_mix.h"
#include "stats/accounting.h"

using namespace tallywire;

namespace {

// The frames back to back in one buffer, as libpcap hands them out of its
// read buffer.
struct prepared_frames {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> offsets;
    std::vector<pcap_pkthdr> headers;
};

// The big capture's mix: thousands of hosts and ports, Zipf-skewed, with a
// 96-byte snap length.
const prepared_frames& big_mix() {
    static const prepared_frames prepared = [] {
        twgen::mix_options options;
        options.frames = 1 << 16;
        options.snap_length = 96;
        options.hosts = 4000;
        options.ports = 3000;
        options.skew = 1.0;
        prepared_frames out;
        for (const twgen::frame& frame : twgen::generate_mix(options).frames) {
            out.offsets.push_back(out.bytes.size());
            out.bytes.insert(out.bytes.end(), frame.bytes.begin(), frame.bytes.end());
            pcap_pkthdr header{};
            header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
            header.len = frame.wire_length;
            out.headers.push_back(header);
        }
        return out;
    }();
    return prepared;
}

// Arguments: kinds, direction split.
void decode_and_account(benchmark::State& state) {
    const prepared_frames& mix = big_mix();
    accounting_context counting =
        twbench::open_tables(static_cast<std::uint32_t>(state.range(0)), state.range(1) != 0);
    capture_context context;
    context.sink = accounting_sink;
    context.sink_arg = &counting;
    context.datalink = DLT_EN10MB;
    auto* user = reinterpret_cast<unsigned char*>(&context);
    std::size_t next = 0;
    for (auto _ : state) {
        decode_frame(user, &mix.headers[next], mix.bytes.data() + mix.offsets[next]);
        next = next + 1 == mix.headers.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
    close_tables();
}
BENCHMARK(decode_and_account)
    ->ArgNames({"kinds", "split"})
    ->Args({stat_total, 0})
    ->Args({63, 0})
    ->Args({63, 1});

}  // namespace
