#pragma once

#include "stats/stat_tables.h"

// Walks, sorts, limits and prints every table on standard output: a heading
// per kind, Total first, each followed by its rows, largest byte count first.
// With nothing counted it says so on standard error and prints nothing.
// Returns 0, or -1 when the report could not be written whole (the message
// is on standard error).
int print_report();

// Replaces rows with every entry of the table, in key order, and returns
// the count; the table is left empty (see take_rows). A table failure
// leaves no rows; a lack of memory, the first rows there was room for.
int collect_rows(stat_table& table, table_rows& rows);

// For sorting, largest byte count first: -1 when a has more bytes than b, 1
// when fewer, 0 when as many. Nothing else is compared, so ties keep no
// particular order.
// Inline, since a sort of a million rows calls it some twenty million times.
inline int compare_rows(const report_row& a, const report_row& b) {
    if (a.bytes > b.bytes) {
        return -1;
    }
    return a.bytes < b.bytes ? 1 : 0;
}
