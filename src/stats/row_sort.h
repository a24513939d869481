#pragma once

#include <span>

#include "stats/table_keys.h"
#include "stats/table_records.h"

namespace tallywire {

// For sorting, largest byte count first: -1 when a comes before b, 1 when
// after, in a table of kind. Rows of equal byte counts go in the order of
// their keys (keys::natural_order: ports, protocols and link codes by
// number, addresses and networks by address), so that the first N rows of
// a block (-t N) are the first N of the whole block, whatever N.
// Inline, since a sort of a million rows calls it some twenty million times.
inline int compare_rows(const report_row& a, const report_row& b, std::uint32_t kind) {
    if (a.bytes != b.bytes) {
        return a.bytes > b.bytes ? -1 : 1;
    }
    const std::uint64_t a_key = keys::natural_order(kind, a.key);
    const std::uint64_t b_key = keys::natural_order(kind, b.key);
    if (a_key != b_key) {
        return a_key < b_key ? -1 : 1;
    }
    return 0;
}

// The same for rows under wide keys (IPv6 hosts and networks), whose bytes
// are in address order. A block's IPv4 rows come before its IPv6 rows of
// equal bytes.
inline bool wide_row_before(const wide_row& a, const wide_row& b) {
    return a.bytes != b.bytes ? a.bytes > b.bytes : a.key < b.key;
}

// Puts rows in the report's order (compare_rows). Sorts in place, without
// memory of its own beyond a few small counting arrays, since the rows of a
// wide table already weigh tens of megabytes.
void sort_by_bytes(std::span<report_row> rows, std::uint32_t kind);

// Puts rows in key order, the order a counting table holds them in, in
// place as above: a table added whole arrives in the order its part named
// its rows (see counting_table::add_rows).
void sort_by_key(std::span<report_row> rows);

}  // namespace tallywire
