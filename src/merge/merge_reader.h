#pragma once

// --merge: JSON reports of earlier runs (json_document.h), one after
// another in one stream, added up by key. The sums are exact, and memory
// grows with the distinct keys, not with the size or number of the parts:
// the documents are read as a stream of events, never held whole.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture_outcome.h"
#include "report/report.h"
#include "settings.h"
#include "stats/stat_tables.h"

namespace tallywire {

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
};

// Reads every document of in and adds them up. The parts must agree on
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
