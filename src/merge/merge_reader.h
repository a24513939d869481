#pragma once

// --merge: JSON reports of earlier runs (json_document.h), one after
// another in one stream, added up by key. The sums are exact, and memory
// grows with the distinct keys, not with the size or number of the parts:
// the documents are read as a stream of events, never held whole.

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture_outcome.h"
#include "report/report.h"
#include "settings.h"
#include "stats/stat_tables.h"

namespace tallywire {

// The sums of one interval of interval reports (--interval).
struct interval_sums {
    std::int64_t end_microseconds = 0;
    std::vector<stat_table> tables;  // one per kind, as merged_reports::tables
    capture_outcome outcome;
    bool partial = false;    // a part stopped within it
    std::uint64_t late = 0;  // the parts' late frames
};

struct merged_reports {
    // One per kind the parts counted, in bit order, as a run over the
    // parts' frames would have counted them.
    std::vector<stat_table> tables;
    // A part whose reading stopped at an error makes the sum short too;
    // the parts' drops add up.
    capture_outcome outcome;
    std::uint32_t parts = 0;
    // The config to report the sums with: the command line's, with the
    // parts' counting settings (see adopt in report/merge_settings.h).
    run_config config;
    // Set by the first part: whether the parts are reports of intervals,
    // which are summed per interval in intervals (by start, in
    // microseconds since the epoch) instead of in tables.
    std::optional<bool> of_intervals;
    std::map<std::int64_t, interval_sums> intervals;
    // The length of the summed intervals: the parts' own, or the command
    // line's --interval that re-bins them.
    std::int64_t interval_length = 0;
};

// Reads every document of in and adds them up. Reports of intervals add up
// per interval: those of the same interval (the parts' length), or of the
// same interval of the command line's --interval, a multiple of every
// part's length. Reports of intervals and of whole runs do not mix. The parts must agree on
// their counting settings, and with those the command line names
// (command_line.named); the result's config is the command line's with the
// parts' settings, so that the report labels the sums as the parts' runs
// would have. A part
// that cannot be added (malformed, truncated, of another format, cut by
// -t, disagreeing, with a bad or repeated key or a sum past 2^64 - 1), or
// an input with no document, is refused: the message, naming the part by
// its position from 1, goes to standard error, and the result is empty.
std::optional<merged_reports> merge_reports(std::FILE* in, const run_config& command_line);

}  // namespace tallywire
