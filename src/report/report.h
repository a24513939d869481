#pragma once

#include "stats/stat_tables.h"

namespace tallywire {

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

}  // namespace tallywire
