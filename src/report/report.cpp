#include "report/report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "settings.h"
#include "report/row_format.h"
#include "report/row_sort.h"

namespace tallywire {

int collect_rows(stat_table& table, table_rows& rows) {
    // A table that cannot hand its rows over leaves none: the block then
    // shows its heading alone, as for an empty table.
    take_rows(table, rows);
    return static_cast<int>(rows.size());
}

namespace {

void print_heading(std::uint32_t kind) {
    const std::string_view name = stat_kind_name(kind);
    std::printf("%.*s Statistics:\n", static_cast<int>(name.size()), name.data());
}

std::size_t line_count(std::size_t rows, std::int32_t max_lines) {
    return max_lines < 0 ? rows : std::min(rows, static_cast<std::size_t>(max_lines));
}

// Only the rows that will be printed need to be in order.
void sort_largest_first(std::span<report_row> rows, std::size_t lines) {
    const auto by_bytes = [](const report_row& a, const report_row& b) {
        return compare_rows(a, b) < 0;
    };
    if (lines < rows.size()) {
        std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(lines),
                          rows.end(), by_bytes);
    } else {
        sort_by_bytes(rows);
    }
}

// The first lines of the block's wide rows, as above; they are printed
// merged with the others by byte count.
void sort_largest_first(std::span<wide_row> rows, std::size_t lines) {
    const auto by_bytes = [](const wide_row& a, const wide_row& b) { return a.bytes > b.bytes; };
    std::partial_sort(rows.begin(),
                      rows.begin() + static_cast<std::ptrdiff_t>(std::min(lines, rows.size())),
                      rows.end(), by_bytes);
}

// A report cut short by a full disk or a closed descriptor must not pass
// for a whole one.
int finish_output() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::perror("print_report()");
        return -1;
    }
    return 0;
}

}  // namespace

int print_report() {
    table_rows rows;
    if (stat_tables.empty() || collect_rows(stat_tables.front(), rows) == 0) {
        std::fputs("No packets processed.\n", stderr);
        return 0;
    }
    // Total holds one entry: every counted packet has the same Total key.
    const std::uint64_t total_bytes = rows.rows().front().bytes;
    print_heading(stat_tables.front().kind);
    print_rows(stat_tables.front().kind, 1, rows.rows(), total_bytes);

    for (auto table = stat_tables.begin() + 1; table != stat_tables.end(); ++table) {
        print_heading(table->kind);
        collect_rows(*table, rows);
        std::vector<wide_row> wide_rows = take_wide_rows(*table);
        const std::size_t lines =
            line_count(rows.size() + wide_rows.size(), current_settings.max_lines);
        sort_largest_first(rows.rows(), std::min(lines, rows.size()));
        sort_largest_first(wide_rows, lines);
        print_rows(table->kind, static_cast<std::uint32_t>(lines), rows.rows(), total_bytes,
                   stdout, wide_rows);
    }
    return finish_output();
}

}  // namespace tallywire
