#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <span>

#include "capture/bounded_read.h"
#include "capture/buffered_input.h"
#include "capture/file_descriptor.h"
#include "capture/sources.h"

namespace tallywire {

namespace {

constexpr std::size_t file_header_size = 16;
constexpr std::size_t record_header_size = 24;
constexpr std::uint32_t snoop_ethernet = 4;  // RFC 1761 numbering, not a DLT_ value

struct record_header {
    std::uint32_t wire_length;
    std::uint32_t included_length;
    std::uint32_t record_length;
    std::uint32_t seconds;
    std::uint32_t microseconds;
};

record_header parse_record_header(std::span<const std::uint8_t, record_header_size> bytes) {
    return {big_endian32(bytes.subspan<0, 4>()), big_endian32(bytes.subspan<4, 4>()),
            big_endian32(bytes.subspan<8, 4>()), big_endian32(bytes.subspan<16, 4>()),
            big_endian32(bytes.subspan<20, 4>())};
}

int report_failure(const char* message) {
    std::fputs(message, stderr);
    return -1;
}

int read_records(buffered_input& input, capture_context& context) {
    const auto file_header = read_bytes<file_header_size>(input.take(file_header_size), 0);
    if (!file_header) {
        return report_failure("get_snoop_data: Can't read file header\n");
    }
    if (big_endian32(file_header->subspan<12, 4>()) != snoop_ethernet) {
        return report_failure("get_snoop_data: No support for this link type (yet?)\n");
    }

    for (;;) {
        const auto header_bytes = input.take(record_header_size);
        if (header_bytes.empty() && !input.failed()) {
            return 0;  // the file ends exactly between two records
        }
        const auto header = read_bytes<record_header_size>(header_bytes, 0);
        if (!header) {
            return report_failure("get_snoop_data: Can't read packet header\n");
        }
        const record_header record = parse_record_header(*header);
        if (record.record_length < record_header_size) {
            return report_failure("get_snoop_data: Bad record length\n");
        }
        // Read as unsigned: a length of 2 GiB or more is a record that runs
        // past the end of the file, not a negative size.
        const std::size_t body_size = record.record_length - record_header_size;
        const auto body = input.take(body_size);
        if (body.size() != body_size) {
            return report_failure("get_snoop_data: Can't read packet data\n");
        }

        pcap_pkthdr frame_header{};
        frame_header.ts.tv_sec = static_cast<time_t>(record.seconds);
        frame_header.ts.tv_usec = static_cast<suseconds_t>(record.microseconds);
        // An included length beyond the body would let the decoder read
        // past the record; the body is all there is of the frame.
        frame_header.caplen = static_cast<bpf_u_int32>(
            std::min<std::size_t>(record.included_length, body_size));
        frame_header.len = record.wire_length;
        decode_frame(reinterpret_cast<unsigned char*>(&context), &frame_header, body.data());
    }
}

}  // namespace

int get_snoop_data(const std::string& path, capture_mode mode, packet_sink sink, void* sink_arg) {
    const file_descriptor file = open_for_reading(path);
    if (!file) {
        return -1;
    }
    capture_context context;
    context.sink = sink;
    context.sink_arg = sink_arg;
    context.mode = mode;
    context.datalink = DLT_EN10MB;
    try {
        buffered_input input(file.get());
        return read_records(input, context);
    } catch (const std::bad_alloc&) {
        // A record too large for memory ends the reading like any other
        // unreadable record, without a message of its own.
        return -1;
    }
}

}  // namespace tallywire
