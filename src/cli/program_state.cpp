#include "cli/program_state.h"

namespace tallywire {

void reset_program_state() {
    reset_capture_state();
    reset_stats_state();
}

}  // namespace tallywire
