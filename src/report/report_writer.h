#pragma once

// A report in one of its formats. print_report drives a writer through the
// whole report: begin, then per table begin_table, its rows through
// rows(), end_table; then end.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "capture/capture_outcome.h"
#include "report/labelled_rows.h"
#include "settings.h"

namespace tallywire {

// The interval a report covers, under --interval: its bounds as text
// (interval_time.h), and what its reader must know of it.
struct interval_mark {
    std::string start;
    std::string end;
    bool partial = false;    // the run stopped within it
    std::uint64_t late = 0;  // frames counted in it that came after its hold
    bool first = false;      // the run's first report: CSV writes its header
};

struct report_summary {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    // False when -t left rows out.
    bool complete = true;
    capture_outcome outcome;
    // Set for one interval's report; a whole run's has none.
    std::optional<interval_mark> interval;
};

class report_writer {
public:
    virtual ~report_writer() = default;

    virtual void begin(const report_summary& summary) = 0;
    virtual void begin_table(std::uint32_t kind) = 0;
    // Takes the table's printed rows, between begin_table and end_table.
    virtual row_consumer& rows() = 0;
    virtual void end_table() = 0;
    virtual void end() = 0;
};

}  // namespace tallywire
