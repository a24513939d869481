#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "settings.h"
#include "capture/frame_view.h"

namespace tallywire {

// Format codes of the first-bytes probe.
inline constexpr std::uint32_t format_pcap = 0xa1b2c3d4;
inline constexpr std::uint32_t format_modified_pcap = 0xa1b2cd34;
inline constexpr std::uint32_t format_snoop = 0x736e6f6f;
// Compressed files, by their first bytes taken big-endian.
inline constexpr std::uint32_t format_gzip = 0x1f8b;
inline constexpr std::uint32_t format_zstd = 0x28b52ffd;

class decompressing_stream;

// Each reader returns 0 when the source ran (the report may follow) and -1
// when it failed; every failure has been reported on standard error. A
// source that ran but stopped at a read error says so in
// last_capture_outcome (capture/capture_state.h).

// Every reader takes from config what it needs of the run: the source's
// name and mode, the filter, the time limit and --look-through, which the
// decoder reads frames by.

int capture_from_source(const run_config& config, packet_sink sink, void* sink_arg);

// Reads the first eight bytes of path; writes code only for a recognised
// format. 0 when eight bytes were read, -1 otherwise.
int probe_file_format(const std::string& path, std::uint32_t& code);

// The format code of a capture's first eight bytes, if it has one.
std::optional<std::uint32_t> recognise_format(std::span<const std::uint8_t, 8> magic);

// A gzip or zstd file (code format_gzip or format_zstd) named by the
// config's source, read as the
// capture it holds: snoop data by the snoop reader, anything else by
// libpcap with the filter. A damaged compressed stream is reported with
// the decompressor's text; it fails the source when no frame came before
// it, and otherwise stops the reading like a damaged record.
int read_compressed_file(const run_config& config, std::uint32_t code, packet_sink sink,
                         void* sink_arg);

int run_pcap_source(const run_config& config, packet_sink sink, void* sink_arg);

// Reads the decompressed stream with libpcap, as a capture file: with the
// config's filter, but neither its mode nor its time limit.
int run_pcap_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                    void* sink_arg);

int get_snoop_data(const run_config& config, packet_sink sink, void* sink_arg);

// Reads snoop data from the decompressed stream.
int read_snoop_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                      void* sink_arg);

}  // namespace tallywire
