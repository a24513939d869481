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

// The hints the decoder counts, per thread, so that counting threads never
// write one line; flush_thread_hints adds the calling thread's into
// last_capture_outcome (under a lock) and empties them. Every thread that
// decodes frames flushes when its share is done.
extern thread_local option_hints thread_hints;
void flush_thread_hints();

// Puts the state above back to its initial value.
void reset_capture_state();

}  // namespace tallywire
