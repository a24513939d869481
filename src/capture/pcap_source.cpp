#include <pcap/pcap.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "capture/capture_progress.h"
#include "capture/capture_state.h"
#include "capture/link_layer.h"
#include "capture/capture_timer.h"
#include "capture/decompressing_stream.h"
#include "capture/sources.h"
#include "capture/stream_file.h"
#include "settings.h"

namespace tallywire {

namespace {

constexpr int live_snapshot_length = 68;
// Enough for a cooked header, VLAN tags, an IPv6 header with an extension
// header, and the ports, which the long options read.
constexpr int live_snapshot_length_looking_deeper = 128;
constexpr int live_read_timeout_ms = 100;
constexpr const char* default_device_keyword = "auto";

// stdio's buffer for a capture file. Its default, the file system's block
// size (4 KiB), costs a read call for every forty or so frames of a small
// snap length: a fifth of the time it takes libpcap to read a file.
constexpr std::size_t file_buffer_size = std::size_t{256} << 10;

// Closes the handle, and with it the file libpcap reads; then frees the
// buffer that stdio read that file through, if it was given one.
struct pcap_closer {
    std::unique_ptr<char[]> file_buffer;
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using pcap_handle = std::unique_ptr<pcap_t, pcap_closer>;

// A compiled filter that frees its instructions when it goes.
class compiled_filter {
public:
    compiled_filter() = default;
    ~compiled_filter() {
        if (compiled_) {
            pcap_freecode(&program_);
        }
    }
    compiled_filter(const compiled_filter&) = delete;
    compiled_filter& operator=(const compiled_filter&) = delete;

    int compile(pcap_t* handle, const std::string& expression) {
        const int result = pcap_compile(handle, &program_, expression.c_str(), 1, 0);
        compiled_ = result >= 0;
        return result;
    }
    bpf_program* get() { return &program_; }

private:
    bpf_program program_{};
    bool compiled_ = false;
};

// Publishes a live handle to the signal handler for as long as it is
// dispatched; withdrawn before the handle is closed.
class published_capture {
public:
    explicit published_capture(pcap_t* handle) { live_capture_handle = handle; }
    ~published_capture() { live_capture_handle = nullptr; }
    published_capture(const published_capture&) = delete;
    published_capture& operator=(const published_capture&) = delete;
};

struct device_list_freer {
    void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};

// The device that libpcap's own default lookup would choose: the first one
// it lists, unless there is none or the first is a loopback device.
bool find_default_device(std::string& device, char* errbuf) {
    pcap_if_t* found = nullptr;
    if (pcap_findalldevs(&found, errbuf) != 0) {
        return false;
    }
    std::unique_ptr<pcap_if_t, device_list_freer> devices(found);
    if (!devices || (devices->flags & PCAP_IF_LOOPBACK) != 0) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "no suitable device found");
        return false;
    }
    device = devices->name;
    return true;
}

// A capture file opened here and handed to libpcap, so that stdio reads it
// through a buffer of file_buffer_size; libpcap closes it with the handle.
// Standard input ("-") is left to libpcap as it is. A file that cannot be
// opened gets the text libpcap gives for it.
pcap_handle open_file(const std::string& name, char* errbuf) {
    if (name == "-") {
        return pcap_handle(pcap_open_offline(name.c_str(), errbuf));
    }
    // Without memory for the buffer, stdio's own serves.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[file_buffer_size]);
    std::FILE* const file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", name.c_str(), std::strerror(errno));
        return nullptr;
    }
    if (buffer) {
        std::setvbuf(file, buffer.get(), _IOFBF, file_buffer_size);
    }
    pcap_t* const handle = pcap_fopen_offline(file, errbuf);
    if (handle == nullptr) {
        // libpcap keeps the file only once it has read a header from it.
        std::fclose(file);
        return nullptr;
    }
    return pcap_handle(handle, pcap_closer{std::move(buffer)});
}

// The decompressed bytes of a compressed file, handed to libpcap as a stdio
// stream. A failure is reported here: the stream's own when it is the
// cause (libpcap would only see a read error), else libpcap's.
pcap_handle open_stream(decompressing_stream& stream) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[file_buffer_size]);
    std::FILE* const file = open_stream_file(stream);
    if (file == nullptr) {
        std::fprintf(stderr, "pcap_open(): %s\n", std::strerror(errno));
        return nullptr;
    }
    if (buffer) {
        std::setvbuf(file, buffer.get(), _IOFBF, file_buffer_size);
    }
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* const handle = pcap_fopen_offline(file, errbuf);
    if (handle == nullptr) {
        std::fclose(file);
        if (stream.failed()) {
            stream.report_failure();
        } else {
            std::fprintf(stderr, "pcap_open(): %s\n", errbuf);
        }
        return nullptr;
    }
    return pcap_handle(handle, pcap_closer{std::move(buffer)});
}

// Opens the file or the interface; a failure is reported here. device is
// the interface opened, for a live source.
pcap_handle open_source(const run_config& config, std::string& device) {
    const std::string& source_name = config.source_name;
    const capture_mode mode = config.mode;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_handle handle;
    if (!mode.live) {
        handle = open_file(source_name, errbuf);
    } else {
        device = source_name;
        if (device.empty() || device == default_device_keyword) {
            if (!find_default_device(device, errbuf)) {
                std::fprintf(stderr, "pcap_lookupdev(): %s\n", errbuf);
                return nullptr;
            }
            std::fprintf(stderr, "Listening on %s\n", device.c_str());
        }
        const bool deeper = config.look_through || config.ipv6;
        handle.reset(pcap_open_live(device.c_str(),
                                    deeper ? live_snapshot_length_looking_deeper
                                           : live_snapshot_length,
                                    mode.promiscuous ? 1 : 0, live_read_timeout_ms, errbuf));
    }
    if (!handle) {
        std::fprintf(stderr, "pcap_open(): %s\n", errbuf);
        // The first bytes of a pipe are gone by now, so the hint cannot
        // say whether they were compressed; it names what is read where.
        if (!mode.live && source_name == "-" && std::strstr(errbuf, "unknown file format")) {
            std::fputs("tallywire: gzip and zstd captures are read from a file (-r FILE), not "
                       "from standard input\n",
                       stderr);
        }
    }
    return handle;
}

// Compiles and installs the expression; a failure is reported here. The
// empty expression accepts every frame, but libpcap cannot compile even that
// for link types it does not know: such a capture is read unfiltered rather
// than refused, so that its frames are still counted.
//
// From a file, libpcap runs an installed program on every frame itself; the
// empty expression's program accepts each one whole, so it is compiled (and
// its failure handled as above) but not installed: that spares a tenth of
// the instructions of a run that only counts the Total.
int install_filter(pcap_t* handle, const std::string& expression, bool live) {
    compiled_filter filter;
    if (filter.compile(handle, expression) < 0) {
        if (expression.empty()) {
            return 0;
        }
        std::fprintf(stderr, "pcap_compile(): %s\n", pcap_geterr(handle));
        return -1;
    }
    if (expression.empty() && !live) {
        return 0;
    }
    if (pcap_setfilter(handle, filter.get()) < 0) {
        std::fprintf(stderr, "pcap_setfilter(): %s\n", pcap_geterr(handle));
        return -1;
    }
    return 0;
}

// What libpcap counted as lost when a live capture ends. Linux keeps
// these counts from the opening of the handle on.
void record_drops(pcap_t* handle) {
    pcap_stat stats{};
    if (pcap_stats(handle, &stats) == 0) {
        last_capture_outcome.drops = drop_counts{stats.ps_drop, stats.ps_ifdrop};
    }
}

// Counts the frames on their way to the sink, for a source that must tell
// whether any came before its damage.
struct counting_sink {
    packet_sink sink = nullptr;
    void* sink_arg = nullptr;
    std::uint64_t frames = 0;
};

void count_and_pass(const frame_view& frame, void* sink_arg) {
    auto& counter = *static_cast<counting_sink*>(sink_arg);
    ++counter.frames;
    counter.sink(frame, counter.sink_arg);
}

// Ends a capture whose reading stopped at an error: the frames before it
// are reported, unless a damaged compressed stream gave none.
int stop_at_read_error(pcap_t* handle, const decompressing_stream* stream,
                       const counting_sink& counter) {
    erase_progress();
    if (stream != nullptr && stream->failed()) {
        stream->report_failure();
        if (counter.frames == 0) {
            return -1;
        }
    } else {
        std::fprintf(stderr, "pcap_dispatch(): %s\n", pcap_geterr(handle));
    }
    last_capture_outcome.stopped_at_read_error = true;
    return 0;
}

// Filters and reads an open handle until its end, an error, or (live) a
// stop; stream is the compressed file behind a file handle, if any, and
// device the interface of a live one. mode and capture_seconds are the
// config's for a source it names, and a file's without a limit for a stream.
int run_capture(pcap_handle handle, const run_config& config, capture_mode mode,
                double capture_seconds, packet_sink sink, void* sink_arg,
                const decompressing_stream* stream, const std::string& device,
                live_tick tick = {}) {
    const std::string& filter_expression = config.filter_expression;
    if (!handle) {
        return -1;
    }
    if (install_filter(handle.get(), filter_expression, mode.live) != 0) {
        return -1;
    }

    counting_sink counter{sink, sink_arg, 0};
    capture_context context;
    context.sink = stream != nullptr ? count_and_pass : sink;
    context.sink_arg = stream != nullptr ? &counter : sink_arg;
    context.datalink = pcap_datalink(handle.get());
    context.look_through = config.look_through;


    capture_running = 1;
    seconds_remaining = capture_seconds;

    // Declared after the handle, so it is withdrawn before the handle closes.
    const published_capture published(mode.live ? handle.get() : nullptr);
    if (mode.live) {
        install_capture_handler(SIGINT);
        if (capture_seconds > 0) {
            install_capture_handler(SIGALRM);
            arm_alarm(std::min(timer_chunk_seconds, seconds_remaining.load()));
        }
        if (capture_running == 0) {
            record_drops(handle.get());
            return 0;
        }
    }

    // Frames pass through a counter only while a progress line is shown.
    std::optional<capture_progress> progress;
    counted_capture counted{context, nullptr};
    if (progress_wanted()) {
        progress.emplace(mode.live ? capture_progress::for_live(device, capture_seconds)
                                   : watch_stream(pcap_file(handle.get())));
        counted.progress = &*progress;
    }
    const pcap_handler handler = progress ? decode_counted_frame : decode_frame;
    auto* const user = progress ? reinterpret_cast<unsigned char*>(&counted)
                                : reinterpret_cast<unsigned char*>(&context);

    // A clock to follow: the capture library would wait for frames however
    // long a quiet link stays quiet, so its descriptor is waited on here,
    // never longer than the read timeout, and read without blocking.
    const int wake_descriptor = mode.live && tick.call != nullptr
                                    ? pcap_get_selectable_fd(handle.get())
                                    : -1;
    if (wake_descriptor >= 0) {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_setnonblock(handle.get(), 1, errbuf);
    }

    int result = 0;
    for (;;) {
        if (wake_descriptor >= 0) {
            pollfd wait_for{wake_descriptor, POLLIN, 0};
            poll(&wait_for, 1, live_read_timeout_ms);  // a signal or the timeout ends it too
            if (capture_running == 0) {
                break;
            }
        }
        const int n = pcap_dispatch(handle.get(), -1, handler, user);
        if (progress) {
            progress->look();
        }
        if (mode.live && tick.call != nullptr) {
            tick.call(tick.tick_arg);
        }
        if (n == 0 && !mode.live) {
            // A stream that failed where libpcap saw only an end.
            if (stream != nullptr && stream->failed()) {
                result = stop_at_read_error(handle.get(), stream, counter);
            }
            break;
        }
        if (n == PCAP_ERROR) {
            result = stop_at_read_error(handle.get(), stream, counter);
            break;
        }
        if (capture_running == 0) {
            break;
        }
    }
    capture_running = 0;
    if (mode.live) {
        record_drops(handle.get());
    }
    return result;
}

}  // namespace

int run_pcap_source(const run_config& config, packet_sink sink, void* sink_arg,
                    live_tick tick) {
    std::string device;
    pcap_handle handle = open_source(config, device);
    return run_capture(std::move(handle), config, config.mode, config.capture_seconds, sink,
                       sink_arg, nullptr, device, tick);
}

int run_pcap_stream(decompressing_stream& stream, const run_config& config, packet_sink sink,
                    void* sink_arg) {
    return run_capture(open_stream(stream), config, capture_mode{}, -1.0, sink, sink_arg,
                       &stream, std::string());
}

}  // namespace tallywire
