#pragma once

#include <cstdint>
#include <span>

#include "capture/capture_outcome.h"
#include "report/labelled_rows.h"
#include "report/report_writer.h"
#include "settings.h"
#include "stats/stat_tables.h"

namespace tallywire {

// Walks, sorts, limits and prints every table on standard output in the
// config's format, labelled as its settings say: a block per kind, Total first, each with its rows, largest
// byte count first. outcome says whether the counts are whole. With nothing
// counted it says so on standard error; the text report then prints
// nothing, the others an empty document. Returns 0, or -1 when the report
// could not be written whole (the message is on standard error).
int print_report(const run_config& config, const capture_outcome& outcome,
                 name_lookups lookups = name_lookups::ahead);

// The same for tables of sums other than the run's own, one per kind in
// bit order, which are left empty; outcome is that of the runs the sums
// were made from, and config states their counting settings (a merge
// builds it from its parts').
int print_merged_report(const run_config& config, std::span<stat_table> tables,
                        const capture_outcome& outcome,
                        name_lookups lookups = name_lookups::ahead);

// One interval's report (--interval) of the tables, which are left empty:
// in text preceded by its "Interval START/END:" line, which an interval
// without frames prints alone; in JSON a document of its own, on one line
// with its interval; in CSV the interval's lines, after the run's header
// when the mark says it is the first. Frames counted late are told on
// standard error for text and CSV. 0, or -1 as print_report.
int print_interval_report(const run_config& config, std::span<stat_table> tables,
                          const capture_outcome& outcome, const interval_mark& interval,
                          name_lookups lookups = name_lookups::ahead);

// Replaces rows with every entry of the table, in key order, and returns
// the count; the table is left empty (see take_rows). A table failure
// leaves no rows; a lack of memory, the first rows there was room for.
int collect_rows(stat_table& table, table_rows& rows);

}  // namespace tallywire
