#pragma once

#include <span>

#include "stats/stat_tables.h"

// Puts rows in the report's order, largest byte count first; rows with equal
// byte counts end up in no particular order. Sorts in place, without memory
// of its own beyond a few small counting arrays, since the rows of a wide
// table already weigh tens of megabytes.
void sort_by_bytes(std::span<report_row> rows);
