// Capture files that tallywire reads itself: a regular file through a
// mapping (or large reads where it cannot be mapped), a decompressed stream
// through a buffer, every frame handed to the decoder under its own
// interface's link type, the filter applied per link type.


#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "capture/buffered_input.h"
#include "capture/capture_file_reader.h"
#include "capture/capture_progress.h"
#include "capture/capture_state.h"
#include "capture/decompressing_stream.h"
#include "capture/file_descriptor.h"
#include "capture/frame_dealer.h"
#include "capture/frame_filter.h"
#include "capture/mapped_file.h"
#include "capture/record_input.h"
#include "capture/sources.h"

namespace tallywire {

namespace {

// Read pages of a mapping are given back this often, which keeps the
// resident size of a run small however large the file.
constexpr std::uint64_t release_step = std::uint64_t{8} << 20;

// A decompressed stream, or a file that cannot be mapped, is read through a
// buffer of this size.
constexpr std::size_t stream_capacity = std::size_t{1} << 20;

struct file_run {
    const std::string& name;             // what messages call the source
    const decompressing_stream* stream;  // the compressed file behind it, if any
    mapped_file* mapping;                // the mapping it is read from, if any
    capture_progress* progress;          // null unless a progress line is shown
};

// A stream that failed is the cause of whatever the reader saw; its own
// message says what. The frames before it are reported, if there are any.
int stop_at_stream_failure(const decompressing_stream& stream, std::uint64_t frames) {
    erase_progress();
    stream.report_failure();
    if (frames == 0) {
        return -1;
    }
    last_capture_outcome.stopped_at_read_error = true;
    return 0;
}

// With more than one sink argument, the frames are dealt to a counting
// thread per argument; the views of a mapping are handed on as they are,
// those of a buffer copied.
int read_records(record_input& input, const run_config& config, packet_sink sink,
                 std::span<void* const> sink_args, const file_run& run) {
    capture_file_reader reader(input);
    if (!reader.open()) {
        if (run.stream != nullptr && run.stream->failed()) {
            return stop_at_stream_failure(*run.stream, 0);
        }
        erase_progress();
        std::fprintf(stderr, "pcap_open(): %s: %s\n", run.name.c_str(), reader.problem().c_str());
        return -1;
    }
    frame_filter filter(config.filter_expression);
    std::size_t prepared = 0;
    capture_context context;
    context.sink = sink;
    context.sink_arg = sink_args.front();
    context.look_through = config.look_through;
    std::optional<frame_dealer> dealer;
    if (sink_args.size() > 1) {
        dealer.emplace(sink, sink_args, config.look_through, run.mapping == nullptr);
    }
    // Pages of a mapping are given back only well behind the reading, past
    // the frames that batches still waiting to be counted may show.
    const std::uint64_t release_lag = dealer ? release_step * 8 : 0;

    std::uint64_t frames = 0;
    std::uint64_t next_release = release_step;
    file_frame frame;
    for (;;) {
        const file_read found = reader.next(frame);
        // Every link type is compiled for as soon as its interface is
        // described, before any frame of it is tested.
        if (reader.links().size() != prepared) {
            if (!filter.prepare(reader.links())) {
                erase_progress();
                return -1;
            }
            prepared = reader.links().size();
        }
        if (found == file_read::end) {
            if (run.stream != nullptr && run.stream->failed()) {
                return stop_at_stream_failure(*run.stream, frames);
            }
            return 0;
        }
        if (found == file_read::damaged) {
            if (run.stream != nullptr && run.stream->failed()) {
                return stop_at_stream_failure(*run.stream, frames);
            }
            erase_progress();
            std::fprintf(stderr, "pcap_dispatch(): %s: %s\n", run.name.c_str(),
                         reader.problem().c_str());
            last_capture_outcome.stopped_at_read_error = true;
            return 0;
        }
        if (filter.accepts(frame)) {
            if (dealer) {
                dealer->deal(frame.datalink, frame.bytes, frame.wire_length, frame.timestamp);
            } else {
                decode_frame_of_link(context, frame.datalink, frame.bytes, frame.wire_length,
                                     frame.timestamp);
            }
            ++frames;
        }
        if (run.progress != nullptr) {
            run.progress->set_position(reader.position());
            run.progress->count(frame.wire_length);
        }
        if (run.mapping != nullptr && reader.position() >= next_release + release_lag) {
            run.mapping->release_before(reader.position() - release_lag);
            next_release = reader.position() - release_lag + release_step;
        }
    }
}

}  // namespace

int read_capture_file(const run_config& config, packet_sink sink,
                      std::span<void* const> sink_args) {
    const std::string& name = config.source_name;
    const file_descriptor file = open_for_reading(name);
    if (!file) {
        return -1;
    }
    std::optional<capture_progress> progress;
    if (progress_wanted()) {
        progress.emplace(capture_progress::for_descriptor(file.get()));
    }
    capture_progress* const shown = progress ? &*progress : nullptr;
    mapped_file mapping(file.get());
    if (!mapping.empty()) {
        record_input input(mapping.bytes());
        return read_records(input, config, sink, sink_args, file_run{name, nullptr, &mapping, shown});
    }
    descriptor_source source(file.get());
    buffered_input buffered(source, stream_capacity);
    record_input input(buffered);
    return read_records(input, config, sink, sink_args, file_run{name, nullptr, nullptr, shown});
}

int read_capture_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                        std::span<void* const> sink_args) {
    std::optional<capture_progress> progress;
    if (progress_wanted()) {
        progress.emplace(capture_progress::for_stream());
    }
    buffered_input buffered(stream, stream_capacity);
    record_input input(buffered);
    return read_records(input, config, sink, sink_args,
                        file_run{config.source_name, &stream, nullptr,
                                 progress ? &*progress : nullptr});
}

}  // namespace tallywire
