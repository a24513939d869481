#pragma once

#include "report/labelled_rows.h"
#include "settings.h"

namespace tallywire {

// A run under --interval: the source read as run_statistics reads it, with
// one report per interval written as each interval closes (see
// stats/interval_windows.h), the last one after the source has ended. A
// live capture is a monitor: it reports every interval from its start on
// by the clock, within a short grace of the interval's end, and marks the
// one it stops in as partial. Returns the exit status as run_statistics.
int run_intervals(const run_config& config, name_lookups lookups);

// How long a live interval is held open after its end for frames still on
// their way through the kernel: a quarter of a second, or the whole
// interval when that is shorter.
std::int64_t live_grace_microseconds(std::int64_t interval_microseconds);

}  // namespace tallywire
