#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "capture/bounded_read.h"
#include "capture/buffered_input.h"
#include "capture/capture_progress.h"
#include "capture/capture_state.h"
#include "capture/decompressing_stream.h"
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

// Where the reading ended: at a clean end (the data ends between two
// records), or at a failure with its message (none for a record too large
// for memory).
struct snoop_end {
    bool clean = false;
    const char* message = nullptr;
    std::uint64_t frames = 0;  // records handed to the decoder before it
};

// Bodies of a decompressed stream are kept only as far as the decoder reads
// (an Ethernet header and the network-layer bytes a frame view is capped
// at) and the rest is passed over in pieces of this size: a tiny compressed
// file can expand to records of gigabytes, and no record may make memory
// grow with it.
constexpr std::size_t kept_body_size = 14 + packet_data_size;
constexpr std::size_t passed_over_piece = std::size_t{64} << 10;

// The first kept_body_size bytes of a body, read through the rest of it;
// false when the input ends or fails inside the body.
bool take_long_body(buffered_input& input, std::size_t body_size,
                    std::array<std::uint8_t, kept_body_size>& kept) {
    const auto head = input.take(kept_body_size);
    if (head.size() != kept_body_size) {
        return false;
    }
    std::copy(head.begin(), head.end(), kept.begin());
    for (std::size_t left = body_size - kept_body_size; left > 0;) {
        const std::size_t piece = std::min(left, passed_over_piece);
        if (input.take(piece).size() != piece) {
            return false;
        }
        left -= piece;
    }
    return true;
}

// progress: null unless a progress line is shown.
snoop_end read_records(buffered_input& input, capture_context& context, bool bound_bodies,
                       capture_progress* progress) {
    snoop_end end;
    std::uint64_t position = file_header_size;
    const auto file_header = read_bytes<file_header_size>(input.take(file_header_size), 0);
    if (!file_header) {
        end.message = "get_snoop_data: Can't read file header\n";
        return end;
    }
    if (big_endian32(file_header->subspan<12, 4>()) != snoop_ethernet) {
        end.message = "get_snoop_data: No support for this link type (yet?)\n";
        return end;
    }

    std::unique_ptr<std::array<std::uint8_t, kept_body_size>> kept;
    for (;;) {
        const auto header_bytes = input.take(record_header_size);
        if (header_bytes.empty() && !input.failed()) {
            end.clean = true;  // the file ends exactly between two records
            return end;
        }
        const auto header = read_bytes<record_header_size>(header_bytes, 0);
        if (!header) {
            end.message = "get_snoop_data: Can't read packet header\n";
            return end;
        }
        const record_header record = parse_record_header(*header);
        if (record.record_length < record_header_size) {
            end.message = "get_snoop_data: Bad record length\n";
            return end;
        }
        // Read as unsigned: a length of 2 GiB or more is a record that runs
        // past the end of the file, not a negative size.
        const std::size_t body_size = record.record_length - record_header_size;
        byte_span body;
        if (bound_bodies && body_size > kept_body_size) {
            if (!kept) {
                kept = std::make_unique<std::array<std::uint8_t, kept_body_size>>();
            }
            if (!take_long_body(input, body_size, *kept)) {
                end.message = "get_snoop_data: Can't read packet data\n";
                return end;
            }
            body = byte_span(*kept);
        } else {
            body = input.take(body_size);
            if (body.size() != body_size) {
                end.message = "get_snoop_data: Can't read packet data\n";
                return end;
            }
        }

        pcap_pkthdr frame_header{};
        frame_header.ts.tv_sec = static_cast<time_t>(record.seconds);
        frame_header.ts.tv_usec = static_cast<suseconds_t>(record.microseconds);
        // An included length beyond the body would let the decoder read
        // past the record; the body is all there is of the frame.
        frame_header.caplen = static_cast<bpf_u_int32>(
            std::min<std::size_t>(record.included_length, body.size()));
        frame_header.len = record.wire_length;
        decode_frame(reinterpret_cast<unsigned char*>(&context), &frame_header, body.data());
        ++end.frames;
        if (progress != nullptr) {
            position += record.record_length;
            progress->set_position(position);
            progress->count(record.wire_length);
        }
    }
}

snoop_end read_from(byte_source& source, capture_context& context, bool bound_bodies,
                    std::size_t capacity, capture_progress* progress) {
    try {
        buffered_input input(source, capacity);
        return read_records(input, context, bound_bodies, progress);
    } catch (const std::bad_alloc&) {
        // A record too large for memory ends the reading like any other
        // unreadable record, without a message of its own.
        return snoop_end{};
    }
}

capture_context snoop_context(const run_config& config, packet_sink sink, void* sink_arg) {
    capture_context context;
    context.sink = sink;
    context.sink_arg = sink_arg;
    context.datalink = DLT_EN10MB;
    context.look_through = config.look_through;
    return context;
}

// A decompressed stream goes through a buffer of this size.
constexpr std::size_t stream_capacity = std::size_t{256} << 10;

}  // namespace

int get_snoop_data(const run_config& config, packet_sink sink, void* sink_arg) {
    const file_descriptor file = open_for_reading(config.source_name);
    if (!file) {
        return -1;
    }
    capture_context context = snoop_context(config, sink, sink_arg);
    std::optional<capture_progress> progress;
    if (progress_wanted()) {
        progress.emplace(capture_progress::for_descriptor(file.get()));
    }
    descriptor_source source(file.get());
    const snoop_end end = read_from(source, context, false, buffered_input::default_capacity,
                                    progress ? &*progress : nullptr);
    if (end.message != nullptr) {
        erase_progress();
        std::fputs(end.message, stderr);
    }
    return end.clean ? 0 : -1;
}

int read_snoop_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                      void* sink_arg) {
    capture_context context = snoop_context(config, sink, sink_arg);
    const snoop_end end = read_from(stream, context, true, stream_capacity, nullptr);
    if (end.clean) {
        return 0;
    }
    // Damage in the compressed stream is the cause, whatever part of a
    // record it cut; the frames before it are reported if there are any.
    if (stream.failed()) {
        stream.report_failure();
        if (end.frames == 0) {
            return -1;
        }
        last_capture_outcome.stopped_at_read_error = true;
        return 0;
    }
    if (end.message != nullptr) {
        erase_progress();
        std::fputs(end.message, stderr);
    }
    return -1;
}

}  // namespace tallywire
