#include "cli/interval_run.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "capture/capture_state.h"
#include "capture/sources.h"
#include "report/drop_notice.h"
#include "report/interval_time.h"
#include "report/report.h"
#include "stats/accounting_context.h"
#include "stats/interval_windows.h"

namespace tallywire {

namespace {

// The grace of a live interval: libpcap hands frames over a block at a
// time, at the latest after its read timeout of a tenth of a second.
constexpr std::int64_t live_grace = 250'000;

// What the emitter needs to write an interval's report.
struct interval_writing {
    const run_config* config = nullptr;
    name_lookups lookups = name_lookups::ahead;
    int decimals = 0;
    bool first = true;
    // The source's end, for the last interval: a read error, live drops.
    const capture_outcome* final_outcome = nullptr;
};

int write_interval(closed_interval& interval, void* emitter_arg) {
    auto& writing = *static_cast<interval_writing*>(emitter_arg);
    interval_mark mark;
    mark.start = interval_time_text(interval.start_microseconds, writing.decimals);
    mark.end = interval_time_text(interval.end_microseconds, writing.decimals);
    mark.partial = interval.partial;
    mark.late = interval.late;
    mark.first = writing.first;
    writing.first = false;
    const capture_outcome outcome =
        interval.last && writing.final_outcome != nullptr ? *writing.final_outcome
                                                          : capture_outcome{};
    if (print_interval_report(*writing.config, interval.tables, outcome, mark,
                              writing.lookups) != 0) {
        // Nobody reads the reports any more (a closed pipe, a full disk):
        // a monitor has no reason to go on.
        capture_running = 0;
        return -1;
    }
    return 0;
}

std::int64_t clock_microseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

void count_frame(const frame_view& frame, void* sink_arg) {
    static_cast<interval_windows*>(sink_arg)->count(frame);
}

// Frames may be few or none: the clock closes a live capture's intervals.
void follow_clock(void* tick_arg) {
    static_cast<interval_windows*>(tick_arg)->advance_to(clock_microseconds());
}

}  // namespace

std::int64_t live_grace_microseconds(std::int64_t interval_microseconds) {
    return std::min(interval_microseconds, live_grace);
}

int run_intervals(const run_config& config, name_lookups lookups) {
    const std::int64_t length = config.interval_microseconds;
    const bool live = config.mode.live;
    interval_writing writing;
    writing.config = &config;
    writing.lookups = lookups;
    writing.decimals = interval_decimals(length);
    interval_windows windows(config.stat_kinds, accounting_context_of(config), length,
                             live ? live_grace_microseconds(length) : length, write_interval,
                             &writing);
    if (windows.open() != 0) {
        std::perror("dbopen");
        return 1;
    }
    if (live) {
        windows.begin_at(clock_microseconds());
    }
    const int source_result = capture_from_source(config, count_frame, &windows,
                                                  live_tick{follow_clock, &windows});
    if (source_result != 0) {
        return 1;
    }
    writing.final_outcome = &last_capture_outcome;
    if (live) {
        windows.advance_to(clock_microseconds());
    }
    if (windows.finish(live) != 0) {
        return 1;
    }
    if (writing.first) {
        // No interval at all: no frame from a file.
        std::fputs("No packets processed.\n", stderr);
    }
    print_drop_notice(last_capture_outcome);
    return last_capture_outcome.stopped_at_read_error ? 2 : 0;
}

}  // namespace tallywire
