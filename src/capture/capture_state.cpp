#include "capture/capture_state.h"

#include <mutex>

namespace tallywire {

volatile std::sig_atomic_t capture_running = 0;
std::atomic<double> seconds_remaining{0.0};
std::atomic<pcap*> live_capture_handle{nullptr};
capture_outcome last_capture_outcome;
thread_local option_hints thread_hints;

namespace {
std::mutex hints_lock;
}  // namespace

void flush_thread_hints() {
    const std::lock_guard held(hints_lock);
    last_capture_outcome.hints.add(thread_hints);
    thread_hints = option_hints{};
}

void reset_capture_state() {
    capture_running = 0;
    seconds_remaining = 0.0;
    live_capture_handle = nullptr;
    last_capture_outcome = capture_outcome{};
    thread_hints = option_hints{};
}

}  // namespace tallywire
