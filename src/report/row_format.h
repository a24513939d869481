#pragma once

// Report lines: one per row, label, packets, bytes and share of all bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "stats/stat_kinds.h"
#include "stats/table_records.h"

namespace tallywire {

// Width of the label column; a longer label pushes the rest of its line right.
inline constexpr std::size_t label_column_width = 25;

// Prints the first count rows of one kind, in array order, with their labels.
// A count beyond the rows given prints only the rows there are.
// Wide rows (IPv6 hosts and networks), in order too, are merged with the
// others by byte count, and count covers both.
void print_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::uint64_t total_bytes, std::FILE* out = stdout,
                std::span<const wide_row> wide_rows = {});

// One report line: tab, "name suffix" left-justified in the label column,
// packets, bytes, percent.
void print_row(std::string_view name, std::string_view suffix, std::uint64_t packets,
               std::uint64_t bytes, double percent, std::FILE* out = stdout);

// The row's share of all bytes; a zero total gives what the division gives.
double row_percent(std::uint64_t bytes, std::uint64_t total_bytes);

}  // namespace tallywire
