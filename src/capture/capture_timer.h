#pragma once

#include <cstdint>

namespace tallywire {

// Longest single arming of the capture timer, in seconds.
inline constexpr double timer_chunk_seconds = 600.0;

// Seconds to the nearest whole microsecond.
std::int64_t alarm_microseconds(double seconds);

// Arms a one-shot real-time timer that raises SIGALRM after seconds.
void arm_alarm(double seconds);

// SIGINT stops a live capture; SIGALRM counts one timer chunk down and
// either re-arms the timer or stops the capture.
void capture_signal_handler(int signal_number);

// Installs capture_signal_handler for the signal; it stays installed.
void install_capture_handler(int signal_number);

}  // namespace tallywire
