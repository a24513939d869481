// The stores weighed for the wide tables, side by side on the same keys:
// the position-indexed entry array that the tables use, a flat hash map
// holding the entries, and a B-tree. Time per count, and resident bytes per
// entry once every key is in.

#include <benchmark/benchmark.h>

#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_map.h>

#include <vector>

#include "bench_support.h"
#include "stats/sparse_counters.h"

using namespace tallywire;

namespace {

struct position_indexed {
    sparse_counters store;
    void add(std::uint64_t key, std::uint32_t length) { store.add(key, length); }
};

template <class Map>
struct map_store {
    Map store;
    void add(std::uint64_t key, std::uint32_t length) {
        table_counters& counters = store[key];
        counters.bytes += length;
        ++counters.packets;
    }
};

using flat_map_store = map_store<absl::flat_hash_map<std::uint64_t, table_counters>>;
using btree_store = map_store<absl::btree_map<std::uint64_t, table_counters>>;

template <class Store>
void fill(benchmark::State& state) {
    const auto distinct = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint32_t> keys = twbench::wide_keys(distinct, 2 * distinct);
    double bytes_per_entry = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = twbench::resident_bytes();
        {
            auto store = std::make_unique<Store>();
            state.ResumeTiming();
            for (const std::uint32_t value : keys) {
                store->add(std::uint64_t{value} << 8 | 0x80u, 700);
            }
            state.PauseTiming();
            bytes_per_entry = static_cast<double>(twbench::resident_bytes() - before) /
                              static_cast<double>(distinct);
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
    state.counters["B/entry"] = bytes_per_entry;
}

BENCHMARK_TEMPLATE(fill, position_indexed)
    ->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(fill, flat_map_store)
    ->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(fill, btree_store)
    ->Arg(65536)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
