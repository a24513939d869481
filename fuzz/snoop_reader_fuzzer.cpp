// Arbitrary files through the snoop reader and the accounting. The input
// is the whole file; the reader opens it by name, as a run would.

#include <cstddef>
#include <cstdint>
#include <span>

#include "capture/sources.h"
#include "fuzz_support.h"
#include "cli/program_state.h"
#include "stats/accounting.h"

using namespace tallywire;

namespace {

constexpr int inputs_per_table_set = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static twfuzz::scratch_file file;
    static int inputs_since_renewal = inputs_per_table_set;
    if (inputs_since_renewal == inputs_per_table_set) {
        twfuzz::renew_tables(twfuzz::all_kinds);
        inputs_since_renewal = 0;
    }
    ++inputs_since_renewal;

    file.replace(std::span(data, size));
    run_config config;
    config.source_name = file.path();
    config.mode.live = false;
    accounting_context counting;
    get_snoop_data(config, accounting_sink, &counting);
    return 0;
}
