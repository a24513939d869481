// Arbitrary capture files through a whole run: the format probe, libpcap or
// the snoop reader, the accounting and the report. Names are never resolved
// (no network). The input's length picks the rest, so that the file's bytes
// stay as they are: -d for odd lengths, -t 3 when bit 1 is set,
// --look-through and --ipv6 when bit 2 is set, and every
// kind for one length in eight, Total, IP and Host otherwise (the report
// walks the whole value range of Link, Port and Network, which under the
// fuzzer's instrumentation would take most of each run).

#include <cstddef>
#include <cstdint>
#include <span>

#include "cli/run_sequence.h"
#include "fuzz_support.h"
#include "cli/program_state.h"

using namespace tallywire;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    twfuzz::discard_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static twfuzz::scratch_file file;
    file.replace(std::span(data, size));

    reset_program_state();
    run_config config;
    config.source_name = file.path();
    config.mode.live = false;
    config.no_resolve = true;
    config.direction_split = (size & 1) != 0;
    config.max_lines = (size & 2) != 0 ? 3 : -1;
    config.look_through = (size & 4) != 0;
    config.ipv6 = (size & 4) != 0;
    config.stat_kinds = size % 8 == 0 ? twfuzz::all_kinds : stat_total | stat_ip | stat_host;
    run_statistics(config);
    return 0;
}
