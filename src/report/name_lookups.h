#pragma once

// The names that the printed rows of one kind stand for, looked up all at
// once before the first of them is printed, several at a time: a report of a
// thousand hosts then waits for the slowest answers, not for the sum of all.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "stats/stat_tables.h"

namespace tallywire {

// At most this many lookups are waited for at the same time.
inline constexpr std::size_t max_lookups_in_flight = 32;

class row_names {
public:
    row_names() = default;
    // Names ready: the name of row r is names[slot_of_row[r]].
    row_names(std::vector<std::uint32_t> slot_of_row, std::vector<std::optional<std::string>> names)
        : ready_(true), slot_of_row_(std::move(slot_of_row)), names_(std::move(names)) {}

    // False when nothing was looked up ahead: the kind needs no names, or
    // there was no memory to hold them. The labels then look up their own.
    bool ready() const { return ready_; }

    // The official name found for the row at index, or null when the
    // database has none.
    const char* name(std::size_t row) const;

private:
    bool ready_ = false;
    std::vector<std::uint32_t> slot_of_row_;          // index into names_
    std::vector<std::optional<std::string>> names_;  // one per distinct key
};

// Looks up the host (Host rows), service (Port) or protocol (IP) name of
// every row given, each distinct one once (the wide rows' IPv6 hosts after
// the rows: the name of wide row j is name(rows.size() + j)), with at most
// max_lookups_in_flight at a time. No thread is started when no row needs a
// name. SIGINT and SIGALRM stay with the calling thread, so a capture's
// signal handler keeps running there, and the wait survives it.
row_names look_up_row_names(std::uint32_t kind, std::span<const report_row> rows,
                            std::span<const wide_row> wide_rows = {});

}  // namespace tallywire
