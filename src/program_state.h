#pragma once

// Every piece of program-wide state lives here, so that it can be found in
// one place and put back to its initial value by tests.

#include <atomic>
#include <csignal>
#include <vector>

#include "capture/packet_record.h"
#include "cli/settings.h"
#include "stats/stat_tables.h"

// The options, fixed once the command line is read.
extern settings current_settings;

// The record of the frame being counted; written only by decode_frame.
extern packet_record current_packet;

// Shared between the capture loop and the signal handler: the loop reads
// capture_running afresh after every dispatch call.
extern volatile std::sig_atomic_t capture_running;
extern std::atomic<double> seconds_remaining;
static_assert(std::atomic<double>::is_always_lock_free,
              "the signal handler needs a lock-free double");

// One table per selected kind, in ascending order of the kind bit (Total
// first); stat_table_count is the number of kinds selected.
extern std::vector<stat_table> stat_tables;
extern int stat_table_count;

// Puts every piece of program-wide state back to its initial value.
void reset_program_state();

// The live capture being dispatched, so that the signal handler can wake
// the capture library when it stops the capture: the library goes back to
// waiting after a signal, and would otherwise wait for the next frame on a
// quiet link. Null whenever no live capture is in its dispatch loop.
struct pcap;
extern std::atomic<pcap*> live_capture_handle;
