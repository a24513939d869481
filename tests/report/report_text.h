#pragma once

// Helpers shared by the report tests: catching what a printer writes, and
// building expected report lines by a path of their own (iostreams, not
// printf), so that a test never compares the code with itself.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>

#include "gen/frame_builder.h"

namespace report_test {

// What write puts on a stream, caught in memory.
inline std::string written_by(const std::function<void(std::FILE*)>& write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    if (stream == nullptr) {
        return "<open_memstream failed>";
    }
    write(stream);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

// A Host row's value: the address bytes in network order, as they lie in a
// packet, read as one number.
inline std::uint32_t host_value(const char* dotted) {
    const auto wire = twgen::ipv4_bytes(twgen::ipv4_address(dotted));
    std::uint32_t value = 0;
    std::memcpy(&value, wire.data(), sizeof value);
    return value;
}

// Fixed-point with four decimals, as the report shows a share.
inline std::string percent_text(std::uint64_t bytes, std::uint64_t total) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(4)
         << static_cast<double>(bytes) * 100.0 / static_cast<double>(total);
    return text.str();
}

inline std::string left_justified(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// One report line: label is the whole label, blank and direction mark
// included.
inline std::string expected_line(const std::string& label, std::uint64_t packets,
                                 std::uint64_t bytes, const std::string& percent) {
    return "\t" + left_justified(label, 25) + left_justified(std::to_string(packets), 10) +
           left_justified(std::to_string(bytes), 10) + left_justified(percent, 5) + " %\n";
}

inline std::string expected_line(const std::string& label, std::uint64_t packets,
                                 std::uint64_t bytes, std::uint64_t total) {
    return expected_line(label, packets, bytes, percent_text(bytes, total));
}

}  // namespace report_test
