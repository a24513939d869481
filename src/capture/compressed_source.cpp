#include <cstdio>
#include <utility>

#include "capture/decompressing_stream.h"
#include "capture/file_descriptor.h"
#include "capture/sources.h"

namespace tallywire {

int read_compressed_file(const run_config& config, capture_format code, packet_sink sink,
                         std::span<void* const> sink_args) {
    const std::string& path = config.source_name;
    file_descriptor file = open_for_reading(path);
    if (!file) {
        return -1;
    }
    decompressing_stream stream(std::move(file),
                                code == capture_format::zstd ? compression::zstd : compression::gzip, path);
    // The capture inside is told apart by its own first bytes, as a file
    // is; a compressed file inside another is not opened further.
    const auto first = stream.peek(8);
    if (stream.failed() && first.size() < 8) {
        stream.report_failure();
        return -1;
    }
    if (first.size() < 8) {
        std::fputs("read(): couldn't read file magic\n", stderr);
        return -1;
    }
    if (recognise_format(first.first<8>()) == capture_format::snoop) {
        return read_snoop_stream(stream, config, sink, sink_args.front());
    }
    return read_capture_stream(stream, config, sink, sink_args);
}

}  // namespace tallywire
