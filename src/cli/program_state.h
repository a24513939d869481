#pragma once

// Every layer's program-wide state, for the one reset that tests and the
// fuzzers use between runs: the capture's (capture/capture_state.h) and the
// tables (stats/stats_state.h). The run's settings are no such state: each
// run gets its own run_config.

#include "capture/capture_state.h"
#include "stats/stats_state.h"

namespace tallywire {

// Puts every piece of program-wide state back to its initial value.
void reset_program_state();

}  // namespace tallywire
