#pragma once

// The capture layer's program-wide state: what the capture loop shares with
// its signal handler, and how the source ended.

#include <atomic>
#include <csignal>

#include "capture/capture_outcome.h"

struct pcap;

namespace tallywire {

// Shared between the capture loop and the signal handler: the loop reads
// capture_running afresh after every dispatch call.
extern volatile std::sig_atomic_t capture_running;
extern std::atomic<double> seconds_remaining;
static_assert(std::atomic<double>::is_always_lock_free,
              "the signal handler needs a lock-free double");

// The live capture being dispatched, so that the signal handler can wake
// the capture library when it stops the capture: the library goes back to
// waiting after a signal, and would otherwise wait for the next frame on a
// quiet link. Null whenever no live capture is in its dispatch loop.
extern std::atomic<pcap*> live_capture_handle;

// How the source of the run ended; written by the sources, read once the
// source has returned.
extern capture_outcome last_capture_outcome;

// Puts the state above back to its initial value.
void reset_capture_state();

}  // namespace tallywire
