#pragma once

// Classic pcap and pcapng files read by tallywire itself, record by record,
// from a record_input: the frames come out as views of the input's bytes.
//
// Classic pcap: the microsecond and nanosecond magics and the modified
// format, in either byte order, the link type and snap length from the file
// header. pcapng: sections of either byte order one after another, an
// interface description per interface (link type, snap length, if_tsresol,
// if_tsoffset), enhanced, simple and obsolete packet blocks; every other
// block is passed over by its length. Each frame carries its own
// interface's link type, so interfaces of different types are read whole.
//
// Every length is checked against what the input holds before it is used,
// and nothing is allocated by a length a file claims.

#include <cstdint>
#include <string>
#include <vector>

#include "capture/bounded_read.h"
#include "capture/frame_view.h"
#include "capture/record_input.h"

namespace tallywire {

// One frame as the file holds it.
// A link type as a filter must know it: libpcap reads the family word of a
// loopback header in the byte order of the file that holds it.
struct file_link {
    int datalink = 0;          // the DLT_ value of the link type
    bool other_order = false;  // the file (or section) is of the other byte order
    bool operator==(const file_link&) const = default;
};

struct file_frame {
    int datalink = 0;               // the DLT_ value of its interface's link type
    bool other_order = false;       // its file or section is of the other byte order
    byte_span bytes;                // the captured bytes, a view of the input
    std::uint32_t wire_length = 0;  // the length the frame had on the wire
    packet_timestamp timestamp;
};

// What next() found.
enum class file_read { frame, end, damaged };

class capture_file_reader {
public:
    explicit capture_file_reader(record_input& input) : input_(input) {}

    // Reads the file header (classic pcap) or the first section header
    // (pcapng); false when it cannot, and problem() says why.
    bool open();

    // The next frame, the clean end of the file, or damage (problem()
    // says what). After damage or the end, nothing more is read.
    file_read next(file_frame& frame);

    // What was wrong, for a message: no file name, no newline.
    const std::string& problem() const { return problem_; }

    // The distinct link types of the interfaces described so far, in the
    // order they were first met: one for classic pcap; a pcapng file may
    // add more with any block it reads.
    const std::vector<file_link>& links() const { return links_; }

    std::uint64_t position() const { return input_.position(); }

private:
    struct interface {
        int datalink = 0;
        std::uint32_t snap_length = 0;
        std::uint64_t units_per_second = 1'000'000;  // of its timestamps
        bool binary_units = false;                   // a power of 2, not of 10
        std::int64_t offset_seconds = 0;
    };

    bool open_pcap(std::uint32_t magic, byte_span header);
    bool open_section(std::uint64_t start, std::uint32_t stored_length);
    file_read next_pcap(file_frame& frame);
    file_read next_pcapng(file_frame& frame);
    file_read read_interface(byte_span body, std::uint64_t start);
    file_read packet_block(std::uint32_t type, byte_span body, std::uint64_t start,
                           file_frame& frame);
    file_read damaged(std::string text);
    void note_link(int datalink);
    std::uint32_t u32(std::span<const std::uint8_t, 4> bytes) const;
    std::uint16_t u16(std::span<const std::uint8_t, 2> bytes) const;

    record_input& input_;
    std::string problem_;
    bool pcapng_ = false;
    bool swapped_ = false;  // the file's byte order is not the host's
    bool finished_ = false;

    // Classic pcap.
    std::size_t record_header_size_ = 16;
    bool nanoseconds_ = false;
    bool lengths_may_be_swapped_ = false;  // versions 2.3 and before
    bool always_swapped_ = false;          // versions before 2.3
    interface pcap_interface_;

    // pcapng: the current section's interfaces.
    std::vector<interface> interfaces_;
    std::vector<file_link> links_;
};

}  // namespace tallywire
