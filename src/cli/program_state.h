#pragma once

// Every layer's program-wide state, for the one reset that tests and the
// fuzzers use between runs: the settings (settings.h), the capture's
// (capture/capture_state.h) and the tables (stats/stats_state.h).

#include "capture/capture_state.h"
#include "settings.h"
#include "stats/stats_state.h"

namespace tallywire {

// Puts every piece of program-wide state back to its initial value.
void reset_program_state();

}  // namespace tallywire
