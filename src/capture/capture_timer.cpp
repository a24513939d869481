#include "capture/capture_timer.h"

#include <sys/time.h>

#include <algorithm>
#include <csignal>

#include "program_state.h"

std::int64_t alarm_microseconds(double seconds) {
    return static_cast<std::int64_t>(seconds * 1000000.0 + 0.5);
}

void arm_alarm(double seconds) {
    const std::int64_t microseconds = alarm_microseconds(seconds);
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(microseconds / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    // A zero value would disarm the timer instead of firing it at once.
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) {
        timer.it_value.tv_usec = 1;
    }
    setitimer(ITIMER_REAL, &timer, nullptr);
}

void capture_signal_handler(int signal_number) {
    const double remaining = seconds_remaining.load() - timer_chunk_seconds;
    seconds_remaining.store(remaining);
    if (signal_number == SIGINT) {
        capture_running = 0;
        return;
    }
    if (remaining > 0) {
        arm_alarm(std::min(timer_chunk_seconds, remaining));
    } else {
        capture_running = 0;
    }
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
