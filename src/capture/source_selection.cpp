#include <sys/stat.h>

#include <cstdio>

#include "capture/capture_state.h"
#include "capture/sources.h"

namespace tallywire {

namespace {

// Only regular files (0x8000) and character devices (0x2000) are probed;
// the test is on the bits, so block devices and sockets, whose type codes
// contain one of them, are probed as well. Pipes and directories are not:
// reading a pipe's first bytes would take them from the capture library,
// and the library reports a directory itself.
constexpr mode_t probed_type_bits = 0x8000 | 0x2000;

}  // namespace

namespace {

int read_source(const run_config& config, packet_sink sink, std::span<void* const> sink_args,
                live_tick tick) {
    void* const sink_arg = sink_args.front();
    const std::string& source_name = config.source_name;
    capture_format code = capture_format::pcap;
    const auto capture_library = [&] { return run_pcap_source(config, sink, sink_arg, tick); };
    // A live source is an interface name, whatever file may share it; "-"
    // is standard input, which the capture library reads itself.
    if (config.mode.live || source_name == "-") {
        return capture_library();
    }
    struct stat status {};
    if (stat(source_name.c_str(), &status) != 0) {
        std::perror("stat()");
        return -1;
    }
    if ((status.st_mode & probed_type_bits) == 0) {
        return capture_library();
    }
    if (probe_file_format(source_name, code) != 0) {
        return -1;
    }
    // The snoop reader applies neither the filter nor the time limit.
    if (code == capture_format::snoop) {
        if (!config.filter_expression.empty()) {
            std::fputs("tallywire: -f does not apply to a snoop file: every frame in it is "
                       "counted\n",
                       stderr);
        }
        return get_snoop_data(config, sink, sink_arg);
    }
    if (code == capture_format::gzip || code == capture_format::zstd) {
        return read_compressed_file(config, code, sink, sink_args);
    }
    // pcap and pcapng, and anything else, which the reader refuses.
    return read_capture_file(config, sink, sink_args);
}

}  // namespace

int capture_from_source(const run_config& config, packet_sink sink,
                        std::span<void* const> sink_args, live_tick tick) {
    last_capture_outcome = capture_outcome{};
    thread_hints = option_hints{};
    const int result = read_source(config, sink, sink_args, tick);
    // The counting threads have flushed theirs by now.
    flush_thread_hints();
    return result;
}

int capture_from_source(const run_config& config, packet_sink sink, void* sink_arg,
                        live_tick tick) {
    void* const only[] = {sink_arg};
    return capture_from_source(config, sink, only, tick);
}

}  // namespace tallywire
