#include "capture/frame_dealer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "capture/capture_state.h"

namespace tallywire {

frame_dealer::frame_dealer(packet_sink sink, std::span<void* const> sink_args, bool look_through,
                           bool copy_bytes)
    : sink_(sink), look_through_(look_through), copy_bytes_(copy_bytes) {
    // Two batches per thread: one counted, one waiting, while the reader
    // fills one more.
    const std::size_t count = 2 * sink_args.size() + 1;
    for (std::size_t i = 0; i < count; ++i) {
        auto made = std::make_unique<batch>();
        made->frames.reserve(batch_frames);
        if (copy_bytes_) {
            made->bytes = std::make_unique<std::uint8_t[]>(batch_bytes);
        }
        free_.push_back(made.get());
        batches_.push_back(std::move(made));
    }
    // The reading thread counts every few batches itself, into the first
    // argument: n arguments keep n threads busy, not n + 1 on n cores.
    own_sink_arg_ = sink_args.empty() ? nullptr : sink_args.front();
    try {
        for (void* const arg : sink_args.subspan(sink_args.empty() ? 0 : 1)) {
            threads_.emplace_back([this, arg] { count_batches(arg); });
        }
    } catch (const std::exception&) {  // std::system_error, std::bad_alloc
        // Fewer threads than asked for still count every frame.
    }
}

frame_dealer::~frame_dealer() { finish(); }

void frame_dealer::hand_on() {
    std::unique_lock lock(mutex_);
    if (filling_ != nullptr && !filling_->frames.empty()) {
        // Its own share: one batch in every (threads + 1), or all of them
        // when no thread could be started.
        if (threads_.empty() || ++dealt_ % (threads_.size() + 1) == 0) {
            lock.unlock();
            capture_context context{sink_, own_sink_arg_, 0, look_through_};
            for (const dealt_frame& f : filling_->frames) {
                decode_frame_of_link(context, f.datalink, f.bytes, f.wire_length, f.timestamp);
            }
            filling_->frames.clear();
            filling_->used = 0;
            return;
        }
        full_.push_back(filling_);
        filling_ = nullptr;
        work_ready_.notify_one();
    }
    if (filling_ == nullptr) {
        batch_free_.wait(lock, [&] { return !free_.empty(); });
        filling_ = free_.back();
        free_.pop_back();
    }
}

void frame_dealer::count_batches(void* sink_arg) {
    try {
        count_batches_into(sink_arg);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror("Fatal! add_entry()");
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

void frame_dealer::count_batches_into(void* sink_arg) {
    const capture_context context{sink_, sink_arg, 0, look_through_};
    for (;;) {
        batch* taken = nullptr;
        {
            std::unique_lock lock(mutex_);
            work_ready_.wait(lock, [&] { return !full_.empty() || finishing_; });
            if (full_.empty()) {
                lock.unlock();
                flush_thread_hints();
                return;
            }
            taken = full_.front();
            full_.pop_front();
        }
        for (const dealt_frame& f : taken->frames) {
            decode_frame_of_link(context, f.datalink, f.bytes, f.wire_length, f.timestamp);
        }
        taken->frames.clear();
        taken->used = 0;
        {
            const std::lock_guard lock(mutex_);
            free_.push_back(taken);
        }
        batch_free_.notify_one();
    }
}

void frame_dealer::finish() {
    if (filling_ != nullptr && !filling_->frames.empty()) {
        hand_on();
    }
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

}  // namespace tallywire
