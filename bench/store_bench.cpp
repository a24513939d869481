// The statistic tables on their own: one count per iteration for each kind,
// a Host table filled with up to a million keys, and the walk that the
// report makes.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <random>
#include <vector>

#include "bench_support.h"
#include "capture/frame_view.h"
#include "cli/program_state.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace {

constexpr std::size_t draw_count = std::size_t{1} << 16;

// Values such as the accounting makes for a kind: a few link codes and
// protocols, thousands of ports, hosts and networks.
std::uint32_t draw_value(std::uint32_t kind, std::mt19937& random) {
    const auto address = static_cast<std::uint32_t>(random()) | 1u;
    switch (kind) {
    case stat_total: return 2;
    case stat_link: return 1 + (random() % 8) * 256 + 2;
    case stat_ip: return 1 + random() % 8;
    case stat_port: return 1 + random() % 65535;
    case stat_network: return static_cast<std::uint32_t>(inet_netof(in_addr{address})) | 1u;
    default: return address;
    }
}

std::vector<table_key> draw_keys(std::uint32_t kind, std::size_t distinct, bool split) {
    std::mt19937 random(11);
    std::vector<std::uint32_t> values(distinct);
    for (auto& value : values) {
        value = draw_value(kind, random);
    }
    std::vector<table_key> keys(draw_count);
    std::uniform_int_distribution<std::size_t> pick(0, distinct - 1);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = table_key{values[pick(random)], static_cast<std::int8_t>(split ? i % 2 : 0)};
    }
    return keys;
}

// Arguments: kind bit, distinct values, direction split.
void count_per_kind(benchmark::State& state) {
    const auto kind = static_cast<std::uint32_t>(state.range(0));
    const bool split = state.range(2) != 0;
    const std::vector<table_key> keys =
        draw_keys(kind, static_cast<std::size_t>(state.range(1)), split);
    twbench::open_tables(kind, split);
    frame_view packet;
    packet.wire_length = 700;
    std::size_t next = 0;
    for (auto _ : state) {
        count_packet(stat_tables[0], keys[next], packet);
        next = (next + 1) & (draw_count - 1);
    }
    state.SetItemsProcessed(state.iterations());
    close_tables();
}
BENCHMARK(count_per_kind)
    ->ArgNames({"kind", "values", "split"})
    ->Args({stat_total, 1, 0})
    ->Args({stat_link, 8, 0})
    ->Args({stat_ip, 8, 0})
    ->Args({stat_port, 3000, 0})
    ->Args({stat_port, 3000, 1})
    ->Args({stat_host, 4000, 0})
    ->Args({stat_host, 4000, 1})
    ->Args({stat_network, 4000, 0});

// Fills a Host table with every key of a wide pool, then counts as many
// again. Time per count; resident bytes per entry once filled.
void host_table_fill(benchmark::State& state) {
    const auto distinct = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint32_t> keys = twbench::wide_keys(distinct, 2 * distinct);
    frame_view packet;
    packet.wire_length = 700;
    double bytes_per_entry = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = twbench::resident_bytes();
        twbench::open_tables(stat_host, false);
        state.ResumeTiming();
        for (const std::uint32_t value : keys) {
            count_packet(stat_tables[0], table_key{value, 0}, packet);
        }
        state.PauseTiming();
        bytes_per_entry =
            static_cast<double>(twbench::resident_bytes() - before) / static_cast<double>(distinct);
        close_tables();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
    state.counters["B/entry"] = bytes_per_entry;
}
BENCHMARK(host_table_fill)->Arg(4096)->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// The report's walk of a filled Host table: the first walk sorts.
void host_table_walk(benchmark::State& state) {
    const auto distinct = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint32_t> keys = twbench::wide_keys(distinct, distinct);
    frame_view packet;
    std::size_t walked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        twbench::open_tables(stat_host, false);
        for (const std::uint32_t value : keys) {
            count_packet(stat_tables[0], table_key{value, 0}, packet);
        }
        state.ResumeTiming();
        table_key key;
        table_counters counters;
        walked = 0;
        while (next_entry(stat_tables[0], key, counters) == 0) {
            ++walked;
        }
        benchmark::DoNotOptimize(walked);
        state.PauseTiming();
        close_tables();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(walked));
}
BENCHMARK(host_table_walk)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
