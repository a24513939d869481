#include <pcap/pcap.h>

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
#include "capture/capture_timer.h"
#include "capture/sources.h"
#include "program_state.h"

namespace {

constexpr int live_snapshot_length = 68;
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

// Opens the file or the interface; a failure is reported here. device is
// the interface opened, for a live source.
pcap_handle open_source(const std::string& source_name, capture_mode mode, std::string& device) {
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
        handle.reset(pcap_open_live(device.c_str(), live_snapshot_length,
                                    mode.promiscuous ? 1 : 0, live_read_timeout_ms, errbuf));
    }
    if (!handle) {
        std::fprintf(stderr, "pcap_open(): %s\n", errbuf);
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

}  // namespace

int run_pcap_source(const std::string& source_name, const std::string& filter_expression,
                    capture_mode mode, packet_sink sink, void* sink_arg, double capture_seconds) {
    std::string device;
    pcap_handle handle = open_source(source_name, mode, device);
    if (!handle) {
        return -1;
    }
    if (install_filter(handle.get(), filter_expression, mode.live) != 0) {
        return -1;
    }

    capture_context context;
    context.sink = sink;
    context.sink_arg = sink_arg;
    context.mode = mode;
    context.datalink = pcap_datalink(handle.get());

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
            return 0;
        }
    }

    // Frames pass through a counter only while a progress line is shown.
    std::optional<tallywire::capture_progress> progress;
    tallywire::counted_capture counted{context, nullptr};
    if (tallywire::progress_wanted()) {
        progress.emplace(mode.live ? tallywire::capture_progress::for_live(device, capture_seconds)
                                   : tallywire::watch_stream(pcap_file(handle.get())));
        counted.progress = &*progress;
    }
    const pcap_handler handler = progress ? tallywire::decode_counted_frame : decode_frame;
    auto* const user = progress ? reinterpret_cast<unsigned char*>(&counted)
                                : reinterpret_cast<unsigned char*>(&context);

    for (;;) {
        const int n = pcap_dispatch(handle.get(), -1, handler, user);
        if (progress) {
            progress->look();
        }
        if (n == 0 && !mode.live) {
            break;
        }
        if (n == PCAP_ERROR) {
            tallywire::erase_progress();
            std::fprintf(stderr, "pcap_dispatch(): %s\n", pcap_geterr(handle.get()));
            break;
        }
        if (capture_running == 0) {
            break;
        }
    }
    capture_running = 0;
    return 0;
}
