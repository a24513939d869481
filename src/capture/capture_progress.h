#pragma once

// What the progress line says while frames are read: for a file, the share
// read, the frames so far and the frames per second; for standard input or a
// pipe, frames and bytes so far; for a live capture, the interface, frames and
// bytes so far and the time elapsed (or left, under a time limit). Made only
// when the line is wanted, so a run without it pays nothing per frame; with
// it, a frame costs two additions and a comparison, and the clock is read
// every few thousand frames.

#include <pcap/pcap.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "capture/frame_view.h"
#include "capture/progress_line.h"

namespace tallywire {

class capture_progress {
public:
    // How often the clock is read while frames come in.
    static constexpr std::uint64_t frames_per_look = 4096;

    // A file of size bytes, whose position the reader keeps up to date
    // (set_position) or that can be asked for it (a stdio stream).
    static capture_progress for_file(std::uint64_t size, std::FILE* stream = nullptr);
    // Standard input or a pipe, whose size nobody knows.
    static capture_progress for_stream();
    // What a descriptor reads: a regular file by its size, else a stream.
    static capture_progress for_descriptor(int descriptor);
    // capture_seconds above 0: the time limit.
    static capture_progress for_live(std::string interface_name, double capture_seconds);

    ~capture_progress() { erase_progress(); }
    capture_progress(capture_progress&&) = default;
    capture_progress& operator=(capture_progress&&) = delete;
    capture_progress(const capture_progress&) = delete;
    capture_progress& operator=(const capture_progress&) = delete;

    void count(std::uint32_t wire_length) {
        ++frames_;
        bytes_ += wire_length;
        if (frames_ >= next_look_) {
            look();
        }
    }

    // For a reader that knows where it stands in its file.
    void set_position(std::uint64_t position) { position_ = position; }

    // Reads the clock and rewrites the line when it is due. A live capture
    // also calls it whenever the capture library returns, so that the time
    // moves on a quiet link.
    void look();

private:
    enum class source { file, stream, live };
    capture_progress(source kind, std::chrono::steady_clock::duration first_delay);
    std::string text(double seconds);

    source kind_;
    progress_pace pace_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t next_look_ = frames_per_look;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::FILE* stream_ = nullptr;
    std::string interface_name_;
    double capture_seconds_ = -1;
};

// How a file or pipe is watched: the share read when the stream is a
// regular file, frames and bytes otherwise.
capture_progress watch_stream(std::FILE* stream);

// What a counted capture hands to the capture library as its user argument.
struct counted_capture {
    capture_context context;
    capture_progress* progress = nullptr;
};

// decode_frame after counting the frame; shaped like libpcap's pcap_handler,
// with a counted_capture as user.
void decode_counted_frame(unsigned char* user, const pcap_pkthdr* header,
                          const unsigned char* bytes);

}  // namespace tallywire
