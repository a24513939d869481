#pragma once

// Report lines: one per row, label, packets, bytes and share of all bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/labelled_rows.h"
#include "stats/stat_kinds.h"
#include "stats/table_records.h"

namespace tallywire {

// The lines of one report block, gathered and written in large blocks: one
// locked stdio call per line is a large share of printing a million of them.
// What is left is written when flushed or destroyed.
class text_lines final : public row_consumer {
public:
    text_lines(std::FILE* out, std::uint64_t total_bytes);
    text_lines(const text_lines&) = delete;
    text_lines& operator=(const text_lines&) = delete;
    ~text_lines();

    void take(const labelled_row& row) override;
    void flush();

private:
    std::FILE* out_;
    std::uint64_t total_bytes_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// The share as a report line shows it ("%.4f"), appended to out.
void append_share(std::string& out, double percent);

// Width of the label column; a longer label pushes the rest of its line right.
inline constexpr std::size_t label_column_width = 25;

// Prints the first count rows of one kind, in array order, with their labels.
// A count beyond the rows given prints only the rows there are.
// Wide rows (IPv6 hosts and networks), in order too, are merged with the
// others by byte count, and count covers both.
void print_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::uint64_t total_bytes, const label_settings& labels,
                std::FILE* out = stdout, std::span<const wide_row> wide_rows = {});

// One report line: tab, "name suffix" left-justified in the label column,
// packets, bytes, percent.
void print_row(std::string_view name, std::string_view suffix, std::uint64_t packets,
               std::uint64_t bytes, double percent, std::FILE* out = stdout);

// The row's share of all bytes; a zero total gives what the division gives.
double row_percent(std::uint64_t bytes, std::uint64_t total_bytes);

}  // namespace tallywire
