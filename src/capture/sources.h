#pragma once

#include <cstdint>
#include <string>

#include "settings.h"
#include "capture/packet_record.h"

namespace tallywire {

// Format codes of the first-bytes probe.
inline constexpr std::uint32_t format_pcap = 0xa1b2c3d4;
inline constexpr std::uint32_t format_modified_pcap = 0xa1b2cd34;
inline constexpr std::uint32_t format_snoop = 0x736e6f6f;

// Each returns 0 when the source ran (the report may follow) and -1 when it
// failed; every failure has been reported on standard error.
int capture_from_source(const std::string& source_name, const std::string& filter_expression,
                        capture_mode mode, packet_sink sink, void* sink_arg,
                        double capture_seconds);

// Reads the first eight bytes of path; writes code only for a recognised
// format. 0 when eight bytes were read, -1 otherwise.
int probe_file_format(const std::string& path, std::uint32_t& code);

int run_pcap_source(const std::string& source_name, const std::string& filter_expression,
                    capture_mode mode, packet_sink sink, void* sink_arg, double capture_seconds);

int get_snoop_data(const std::string& path, capture_mode mode, packet_sink sink, void* sink_arg);

}  // namespace tallywire
