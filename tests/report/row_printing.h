#pragma once

// Report lines printed straight from rows, for tests that compare the
// report's lines with a reference: the report itself prints through
// print_report.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "report/labelled_rows.h"
#include "report/row_format.h"

namespace report_test {

// The first count rows of one kind, in array order, with their labels;
// wide rows, in order too, merged with the others by byte count.
inline void print_rows(std::uint32_t kind, std::uint32_t count,
                       std::span<const tallywire::report_row> rows, std::uint64_t total_bytes,
                       const tallywire::label_settings& labels, std::FILE* out,
                       std::span<const tallywire::wide_row> wide_rows = {}) {
    tallywire::text_lines lines(out, total_bytes);
    tallywire::label_rows(kind, count, rows, wide_rows, labels, lines);
}

// One report line.
inline void print_row(std::string_view name, std::string_view suffix, std::uint64_t packets,
                      std::uint64_t bytes, double percent, std::FILE* out) {
    tallywire::text_lines lines(out, 0);
    lines.put(name, suffix, packets, bytes, percent);
}

}  // namespace report_test
