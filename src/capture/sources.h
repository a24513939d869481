#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "settings.h"
#include "capture/packet_record.h"

namespace tallywire {

// The formats the first-bytes probe tells apart; their magic numbers stand
// in the probe (file_probe.cpp) alone.
enum class capture_format { pcap, modified_pcap, snoop, gzip, zstd };

class decompressing_stream;

// Each reader returns 0 when the source ran (the report may follow) and -1
// when it failed; every failure has been reported on standard error. A
// source that ran but stopped at a read error says so in
// last_capture_outcome (capture/capture_state.h).

int capture_from_source(const std::string& source_name, const std::string& filter_expression,
                        capture_mode mode, packet_sink sink, void* sink_arg,
                        double capture_seconds);

// Reads the first eight bytes of path; writes code only for a recognised
// format. 0 when eight bytes were read, -1 otherwise.
int probe_file_format(const std::string& path, capture_format& code);

// The format of a capture's first eight bytes, if it has one.
std::optional<capture_format> recognise_format(std::span<const std::uint8_t, 8> magic);

// A gzip or zstd file (format gzip or zstd), read as the
// capture it holds: snoop data by the snoop reader, anything else by
// libpcap with the filter. A damaged compressed stream is reported with
// the decompressor's text; it fails the source when no frame came before
// it, and otherwise stops the reading like a damaged record.
int read_compressed_file(const std::string& path, capture_format code,
                         const std::string& filter_expression, packet_sink sink,
                         void* sink_arg);

int run_pcap_source(const std::string& source_name, const std::string& filter_expression,
                    capture_mode mode, packet_sink sink, void* sink_arg, double capture_seconds);

// Reads the decompressed stream with libpcap, as a capture file.
int run_pcap_stream(decompressing_stream& stream, const std::string& filter_expression,
                    packet_sink sink, void* sink_arg);

int get_snoop_data(const std::string& path, capture_mode mode, packet_sink sink, void* sink_arg);

// Reads snoop data from the decompressed stream.
int read_snoop_stream(decompressing_stream& stream, packet_sink sink, void* sink_arg);

}  // namespace tallywire
