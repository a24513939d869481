#include "capture/capture_state.h"

namespace tallywire {

volatile std::sig_atomic_t capture_running = 0;
std::atomic<double> seconds_remaining{0.0};
std::atomic<pcap*> live_capture_handle{nullptr};
capture_outcome last_capture_outcome;

void reset_capture_state() {
    capture_running = 0;
    seconds_remaining = 0.0;
    live_capture_handle = nullptr;
    last_capture_outcome = capture_outcome{};
}

}  // namespace tallywire
