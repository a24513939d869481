#pragma once

// A report in one of its formats. print_report drives a writer through the
// whole report: begin, then per table begin_table, its rows through
// rows(), end_table; then end.

#include <cstdint>
#include <cstdio>
#include <memory>

#include "capture/capture_outcome.h"
#include "report/labelled_rows.h"
#include "settings.h"

namespace tallywire {

struct report_summary {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    // False when -t left rows out.
    bool complete = true;
    capture_outcome outcome;
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
