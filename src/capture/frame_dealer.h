#pragma once

// Frames dealt to counting threads in batches: the reader keeps reading on
// its own thread while each counting thread decodes a batch and hands its
// frames to the sink with an argument of its own (its own tables), so that
// no two threads ever write the same counts.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "capture/bounded_read.h"
#include "capture/frame_view.h"

namespace tallywire {

class frame_dealer {
public:
    // One counting thread per sink argument but the first, whose frames the
    // calling thread counts itself between its reads. copy_bytes: the frames' bytes
    // are views that the next read replaces (a buffered input) and are
    // copied into the batch; otherwise the views are handed on as they are
    // and must stay valid until finish() has returned.
    frame_dealer(packet_sink sink, std::span<void* const> sink_args, bool look_through,
                 bool copy_bytes);
    // Throws std::bad_alloc when there is no memory for the batches. A
    // counting thread that runs out of memory ends the process with the
    // tables' message ("Fatal! add_entry(): Cannot allocate memory").
    // Finishes, if finish() has not been called.
    ~frame_dealer();
    frame_dealer(const frame_dealer&) = delete;
    frame_dealer& operator=(const frame_dealer&) = delete;

    // Adds a frame to the batch being filled, handing the batch on when it
    // is full.
    void deal(int datalink, byte_span bytes, std::uint32_t wire_length,
              packet_timestamp timestamp) {
        if (filling_ == nullptr || filling_->frames.size() == batch_frames ||
            (copy_bytes_ && filling_->used + bytes.size() > batch_bytes)) {
            hand_on();
        }
        if (copy_bytes_) {
            std::copy(bytes.begin(), bytes.end(), filling_->bytes.get() + filling_->used);
            bytes = byte_span(filling_->bytes.get() + filling_->used, bytes.size());
            filling_->used += bytes.size();
        }
        filling_->frames.push_back({datalink, bytes, wire_length, timestamp});
    }

    // Hands on the last batch and waits until every frame has been counted.
    void finish();

private:
    static constexpr std::size_t batch_frames = 2048;
    // A copied batch's bytes: room for the largest frame many times over.
    static constexpr std::size_t batch_bytes = std::size_t{1} << 20;

    struct dealt_frame {
        int datalink;
        byte_span bytes;
        std::uint32_t wire_length;
        packet_timestamp timestamp;
    };
    struct batch {
        std::vector<dealt_frame> frames;
        std::unique_ptr<std::uint8_t[]> bytes;  // copy_bytes only
        std::size_t used = 0;
    };

    void hand_on();
    void count_batches(void* sink_arg);
    void count_batches_into(void* sink_arg);

    packet_sink sink_;
    bool look_through_;
    bool copy_bytes_;
    std::vector<std::unique_ptr<batch>> batches_;
    batch* filling_ = nullptr;

    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable batch_free_;
    std::deque<batch*> full_;
    std::vector<batch*> free_;
    bool finishing_ = false;
    std::vector<std::thread> threads_;
    // The reading thread's own share of the batches is counted into this.
    void* own_sink_arg_ = nullptr;
    std::uint64_t dealt_ = 0;
};

}  // namespace tallywire
