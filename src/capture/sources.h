#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "settings.h"
#include "capture/frame_view.h"

namespace tallywire {

// The formats the first-bytes probe tells apart; their magic numbers stand
// in the probe (file_probe.cpp) alone.
enum class capture_format { pcap, modified_pcap, pcapng, snoop, gzip, zstd };

class decompressing_stream;

// Each reader returns 0 when the source ran (the report may follow) and -1
// when it failed; every failure has been reported on standard error. A
// source that ran but stopped at a read error says so in
// last_capture_outcome (capture/capture_state.h).

// Every reader takes from config what it needs of the run: the source's
// name and mode, the filter, the time limit and --look-through, which the
// decoder reads frames by.

// What a live capture calls between its reads, at least once per read
// timeout (a tenth of a second) however quiet the link: a report per
// interval closes its intervals by the clock through it.
struct live_tick {
    void (*call)(void* tick_arg) = nullptr;
    void* tick_arg = nullptr;
};

int capture_from_source(const run_config& config, packet_sink sink, void* sink_arg,
                        live_tick tick = {});

// The same with a sink argument per counting thread: a pcap or pcapng file
// (compressed or not) is read on the calling thread and its frames dealt in
// batches to one thread per argument, each handing its frames to sink with
// its own argument; every other source hands every frame to the first.
// Returns once every frame has been handed on.
int capture_from_source(const run_config& config, packet_sink sink,
                        std::span<void* const> sink_args, live_tick tick = {});

// Reads the first eight bytes of path; writes code only for a recognised
// format. 0 when eight bytes were read, -1 otherwise.
int probe_file_format(const std::string& path, capture_format& code);

// The format of a capture's first eight bytes, if it has one.
std::optional<capture_format> recognise_format(std::span<const std::uint8_t, 8> magic);

// A gzip or zstd file (format gzip or zstd) named by the
// config's source, read as the
// capture it holds: snoop data by the snoop reader, anything else by
// the capture file reader with the filter. A damaged compressed stream is reported with
// the decompressor's text; it fails the source when no frame came before
// it, and otherwise stops the reading like a damaged record.
int read_compressed_file(const run_config& config, capture_format code, packet_sink sink,
                         std::span<void* const> sink_args);

int run_pcap_source(const run_config& config, packet_sink sink, void* sink_arg,
                    live_tick tick = {});

// A pcap or pcapng file named by the config's source, read by tallywire's
// own reader (capture_file_reader.h) with the config's filter: a damaged
// record is reported as "pcap_dispatch(): NAME: TEXT" and stops the reading
// after the frames before it; a header that cannot be read fails the source
// with "pcap_open(): NAME: TEXT".
int read_capture_file(const run_config& config, packet_sink sink,
                      std::span<void* const> sink_args);

// The same for the decompressed stream of a compressed file.
int read_capture_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                        std::span<void* const> sink_args);

// Reads the decompressed stream with libpcap, as a capture file: with the
// config's filter, but neither its mode nor its time limit.
int run_pcap_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                    void* sink_arg);

int get_snoop_data(const run_config& config, packet_sink sink, void* sink_arg);

// Reads snoop data from the decompressed stream.
int read_snoop_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                      void* sink_arg);

}  // namespace tallywire
