#include <pcap/pcap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <span>

#include "capture/buffered_input.h"
#include "capture/byte_order.h"
#include "capture/capture_progress.h"
#include "capture/file_descriptor.h"
#include "capture/sources.h"

namespace {

constexpr std::size_t file_header_size = 16;
constexpr std::size_t record_header_size = 24;
constexpr std::uint32_t snoop_ethernet = 4;  // RFC 1761 numbering, not a DLT_ value

std::uint32_t big_endian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return read_big_endian32(bytes.subspan(offset, 4).data());
}

struct record_header {
    std::uint32_t wire_length;
    std::uint32_t included_length;
    std::uint32_t record_length;
    std::uint32_t seconds;
    std::uint32_t microseconds;
};

record_header parse_record_header(std::span<const std::uint8_t> bytes) {
    return {big_endian32(bytes, 0), big_endian32(bytes, 4), big_endian32(bytes, 8),
            big_endian32(bytes, 16), big_endian32(bytes, 20)};
}

int report_failure(const char* message) {
    tallywire::erase_progress();
    std::fputs(message, stderr);
    return -1;
}

// progress: null unless a progress line is shown.
int read_records(buffered_input& input, capture_context& context,
                 tallywire::capture_progress* progress) {
    std::uint64_t position = file_header_size;
    const auto file_header = input.take(file_header_size);
    if (file_header.size() < file_header_size) {
        return report_failure("get_snoop_data: Can't read file header\n");
    }
    if (big_endian32(file_header, 12) != snoop_ethernet) {
        return report_failure("get_snoop_data: No support for this link type (yet?)\n");
    }

    for (;;) {
        const auto header_bytes = input.take(record_header_size);
        if (header_bytes.empty() && !input.failed()) {
            return 0;  // the file ends exactly between two records
        }
        if (header_bytes.size() < record_header_size) {
            return report_failure("get_snoop_data: Can't read packet header\n");
        }
        const record_header record = parse_record_header(header_bytes);
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
        if (progress != nullptr) {
            position += record.record_length;
            progress->set_position(position);
            progress->count(record.wire_length);
        }
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
    std::optional<tallywire::capture_progress> progress;
    struct stat status {};
    if (tallywire::progress_wanted()) {
        progress.emplace(fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)
                             ? tallywire::capture_progress::for_file(
                                   static_cast<std::uint64_t>(status.st_size))
                             : tallywire::capture_progress::for_stream());
    }
    try {
        buffered_input input(file.get());
        return read_records(input, context, progress ? &*progress : nullptr);
    } catch (const std::bad_alloc&) {
        // A record too large for memory ends the reading like any other
        // unreadable record, without a message of its own.
        return -1;
    }
}
