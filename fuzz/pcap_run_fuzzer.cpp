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
    current_settings.no_resolve = true;
    current_settings.direction_split = (size & 1) != 0;
    current_settings.max_lines = (size & 2) != 0 ? 3 : -1;
    current_settings.look_through = (size & 4) != 0;
    current_settings.ipv6 = (size & 4) != 0;
    const std::uint32_t kinds =
        size % 8 == 0 ? twfuzz::all_kinds : stat_total | stat_ip | stat_host;
    run_statistics(file.path(), kinds, capture_mode{}, -1.0);
    return 0;
}
