#pragma once

// Writes capture files: pcap through libpcap's own dump API, snoop (RFC 1761)
// by hand. Both take the same frames, so a test can compare the reports of
// the two formats.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace twgen {

struct frame {
    std::vector<std::uint8_t> bytes;  // what was captured
    std::uint32_t wire_length = 0;    // 0: the captured length
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
};

// Writes frames to a pcap file of the data-link type and snap length. Frames
// longer than the snap length are cut to it, as a capture would. Throws
// std::runtime_error with libpcap's text on failure.
void write_pcap(const std::string& path, int datalink, std::uint32_t snap_length,
                std::span<const frame> frames);

// Snoop version 2, data-link type 4 (Ethernet). Each record's body is padded
// to a multiple of 4 bytes. Frames longer than snap_length are cut to it.
void write_snoop(const std::string& path, std::span<const frame> frames,
                 std::uint32_t snap_length = 65535);

// The bytes of a snoop file, for tests that damage them before writing.
std::vector<std::uint8_t> snoop_image(std::span<const frame> frames,
                                      std::uint32_t snap_length = 65535);

// Writes raw bytes to a file (for damaged captures).
void write_file(const std::string& path, std::span<const std::uint8_t> contents);
std::vector<std::uint8_t> read_file(const std::string& path);

}  // namespace twgen
