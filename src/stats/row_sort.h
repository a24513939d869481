#pragma once

#include <span>

#include "stats/table_keys.h"
#include "stats/table_records.h"

namespace tallywire {

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

// Puts rows in the report's order, largest byte count first; rows with equal
// byte counts end up in no particular order. Sorts in place, without memory
// of its own beyond a few small counting arrays, since the rows of a wide
// table already weigh tens of megabytes.
void sort_by_bytes(std::span<report_row> rows);

// Puts rows in key order, the order a counting table holds them in, in
// place as above: a table added whole arrives in the order its part named
// its rows (see counting_table::add_rows).
void sort_by_key(std::span<report_row> rows);

}  // namespace tallywire
