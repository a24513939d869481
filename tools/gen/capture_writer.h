#pragma once

// Writes capture files: pcap through libpcap's own dump API, snoop (RFC 1761)
// by hand. Both take the same frames, so a test can compare the reports of
// the two formats.

#include <cstdint>
#include <memory>
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

// Streams frames into a pcap file, one at a time, so that captures of any
// size can be written in constant memory. The path "-" is standard output.
class pcap_writer {
public:
    pcap_writer(const std::string& path, int datalink, std::uint32_t snap_length);
    ~pcap_writer();
    pcap_writer(const pcap_writer&) = delete;
    pcap_writer& operator=(const pcap_writer&) = delete;

    void write(const frame& f);
    // Flushes and closes the file; throws if any write failed. Without it the
    // destructor closes the file and a late write error goes unnoticed.
    void finish();

private:
    struct handles;
    std::unique_ptr<handles> handles_;
    std::uint32_t snap_length_;
};

// Streams frames into a snoop file in the layout of write_snoop. The path
// "-" is standard output.
class snoop_writer {
public:
    explicit snoop_writer(const std::string& path, std::uint32_t snap_length = 65535);
    ~snoop_writer();
    snoop_writer(const snoop_writer&) = delete;
    snoop_writer& operator=(const snoop_writer&) = delete;

    void write(const frame& f);
    void finish();  // as pcap_writer::finish

private:
    struct output;
    std::unique_ptr<output> output_;
    std::vector<std::uint8_t> record_;
    std::uint32_t snap_length_;
};

// Writes raw bytes to a file (for damaged captures).
void write_file(const std::string& path, std::span<const std::uint8_t> contents);
std::vector<std::uint8_t> read_file(const std::string& path);

}  // namespace twgen
