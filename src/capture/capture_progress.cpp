#include "capture/capture_progress.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>

namespace tallywire {
namespace {

// A file read in under a second shows nothing; a live capture shows its
// line almost at once, since it runs until stopped.
constexpr auto file_delay = std::chrono::seconds(1);
constexpr auto live_delay = std::chrono::milliseconds(250);

// "m:ss", or "h:mm:ss" from an hour on.
std::string clock_text(double seconds) {
    const auto whole = static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds);
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64, whole / 3600,
                      whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64, whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

capture_progress::capture_progress(source kind, std::chrono::steady_clock::duration first_delay)
    : kind_(kind), pace_(first_delay) {}

capture_progress capture_progress::for_file(std::uint64_t size, std::FILE* stream) {
    capture_progress progress(source::file, file_delay);
    progress.size_ = size;
    progress.stream_ = stream;
    return progress;
}

capture_progress capture_progress::for_stream() { return {source::stream, file_delay}; }

capture_progress capture_progress::for_descriptor(int descriptor) {
    struct stat status {};
    return fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)
               ? for_file(static_cast<std::uint64_t>(status.st_size))
               : for_stream();
}

capture_progress capture_progress::for_live(std::string interface_name, double capture_seconds) {
    capture_progress progress(source::live, live_delay);
    progress.interface_name_ = std::move(interface_name);
    progress.capture_seconds_ = capture_seconds;
    return progress;
}

void capture_progress::look() {
    next_look_ = frames_ + frames_per_look;
    const auto now = progress_pace::clock::now();
    if (!pace_.due(now)) {
        return;
    }
    try {
        show_progress(text(pace_.seconds_since_start(now)));
    } catch (const std::bad_alloc&) {
    }
}

std::string capture_progress::text(double seconds) {
    char line[256];
    switch (kind_) {
    case source::file: {
        if (stream_ != nullptr) {
            const long at = std::ftell(stream_);
            position_ = at > 0 ? static_cast<std::uint64_t>(at) : position_;
        }
        const double share = size_ > 0 ? 100.0 * static_cast<double>(position_) /
                                             static_cast<double>(size_)
                                       : 100.0;
        const double rate = seconds > 0 ? static_cast<double>(frames_) / seconds : 0;
        // Whole percents, cut rather than rounded: 100% only at the end.
        std::snprintf(line, sizeof line, "%d%% of the file read, %" PRIu64 " frames, %.0f frames/s",
                      static_cast<int>(share > 100 ? 100 : share), frames_, rate);
        return line;
    }
    case source::stream:
        std::snprintf(line, sizeof line, "%" PRIu64 " frames, %" PRIu64 " bytes so far", frames_,
                      bytes_);
        return line;
    case source::live:
    default: {
        std::string said = interface_name_ + ": ";
        std::snprintf(line, sizeof line, "%" PRIu64 " frames, %" PRIu64 " bytes, ", frames_,
                      bytes_);
        said += line;
        // Time left in whole seconds rounded up: "0:00 left" only at the end.
        said += capture_seconds_ > 0 ? clock_text(std::ceil(capture_seconds_ - seconds)) + " left"
                                     : clock_text(seconds) + " elapsed";
        return said;
    }
    }
}

capture_progress watch_stream(std::FILE* stream) {
    struct stat status {};
    if (stream != nullptr && fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode)) {
        return capture_progress::for_file(static_cast<std::uint64_t>(status.st_size), stream);
    }
    return capture_progress::for_stream();
}

void decode_counted_frame(unsigned char* user, const pcap_pkthdr* header,
                          const unsigned char* bytes) {
    auto* counted = reinterpret_cast<counted_capture*>(user);
    counted->progress->count(header->len);
    decode_frame(reinterpret_cast<unsigned char*>(&counted->context), header, bytes);
}

}  // namespace tallywire
