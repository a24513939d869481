#include "capture/capture_timer.h"

#include <pcap/pcap.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "capture/capture_state.h"

namespace tallywire {

namespace {

// Ends the capture from inside the signal handler. pcap_breakloop only sets
// a flag and writes to the handle's wake-up descriptor, both safe in a
// handler; without it a capture on a quiet link would not notice the stop.
void stop_capture() {
    capture_running = 0;
    if (pcap* handle = live_capture_handle.load()) {
        pcap_breakloop(handle);
    }
}

}  // namespace

std::int64_t alarm_microseconds(double seconds) {
    return static_cast<std::int64_t>(seconds * 1000000.0 + 0.5);
}

void arm_alarm(double seconds) {
    // A time that rounds to 0 would disarm the timer, and the capture would
    // never end: such a time fires after 1 microsecond instead.
    const std::int64_t microseconds = std::max<std::int64_t>(alarm_microseconds(seconds), 1);
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(microseconds / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    setitimer(ITIMER_REAL, &timer, nullptr);
}

void capture_signal_handler(int signal_number) {
    // The interrupted code may be about to read errno.
    const int saved_errno = errno;
    const double remaining = seconds_remaining.load() - timer_chunk_seconds;
    seconds_remaining.store(remaining);
    if (signal_number == SIGINT) {
        stop_capture();
    } else if (remaining > 0) {
        arm_alarm(std::min(timer_chunk_seconds, remaining));
    } else {
        stop_capture();
    }
    errno = saved_errno;
}

void install_capture_handler(int signal_number) {
    struct sigaction action {};
    action.sa_handler = capture_signal_handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESETHAND: every timer chunk needs the handler again. No
    // SA_RESTART either, so a blocking read in the capture library returns.
    action.sa_flags = 0;
    sigaction(signal_number, &action, nullptr);
}

}  // namespace tallywire
