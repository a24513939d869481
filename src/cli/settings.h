#pragma once

#include <cstdint>
#include <string>

#include "capture/capture_mode.h"

// Longest text kept from a -i, -r or -f argument; longer ones are cut
// silently, as if held in a 4096-byte buffer with its terminating zero.
inline constexpr std::size_t max_text_setting = 4095;

// The option values. Written only while the command line is read, read-only
// from the first step of the run on.
struct settings {
    std::uint32_t stat_kinds = 1;  // Total only
    capture_mode mode;             // promiscuous on, live off
    std::string source_name;
    std::string filter_expression;
    double capture_seconds = -1.0;  // no time limit
    bool direction_split = false;
    bool no_resolve = false;
    bool port_limit_enabled = false;
    std::int32_t port_limit = 1024;
    std::int32_t max_lines = -1;  // every row
    // Names looked up one row at a time, while the rows are printed, instead
    // of all together beforehand: the reference the concurrent lookups are
    // compared with.
    bool one_lookup_at_a_time = false;
};
