#include "report/report.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "settings.h"
#include "report/labelled_rows.h"
#include "report/report_formats.h"
#include "stats/row_sort.h"

namespace tallywire {

int collect_rows(stat_table& table, table_rows& rows) {
    // A table that cannot hand its rows over leaves none: the block then
    // shows its heading alone, as for an empty table.
    take_rows(table, rows);
    return static_cast<int>(rows.size());
}

namespace {

std::size_t line_count(std::size_t rows, std::int32_t max_lines) {
    return max_lines < 0 ? rows : std::min(rows, static_cast<std::size_t>(max_lines));
}

// Only the rows that will be printed need to be in order.
void sort_largest_first(std::span<report_row> rows, std::size_t lines, std::uint32_t kind) {
    const auto by_bytes = [kind](const report_row& a, const report_row& b) {
        return compare_rows(a, b, kind) < 0;
    };
    if (lines < rows.size()) {
        std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(lines),
                          rows.end(), by_bytes);
    } else {
        sort_by_bytes(rows, kind);
    }
}

// The first lines of the block's wide rows, as above; they are printed
// merged with the others by byte count.
void sort_largest_first(std::span<wide_row> rows, std::size_t lines) {
    std::partial_sort(rows.begin(),
                      rows.begin() + static_cast<std::ptrdiff_t>(std::min(lines, rows.size())),
                      rows.end(), wide_row_before);
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

// The rows of a table for its block: those under 32-bit keys and those
// under wide keys, each in key order, which leaves the table empty.
void take(stat_table& table, table_rows& rows, std::vector<wide_row>& wide_rows) {
    collect_rows(table, rows);
    wide_rows = take_wide_rows(table);
}

// -t cuts a block whose table holds more entries than it may print.
bool every_row_printed(std::span<stat_table> tables, std::int32_t max_lines) {
    if (max_lines < 0) {
        return true;
    }
    const auto limit = static_cast<std::size_t>(max_lines);
    for (std::size_t table = 1; table < tables.size(); ++table) {
        if (entry_count(tables[table]) + wide_entry_count(tables[table]) > limit) {
            return false;
        }
    }
    return true;
}

// The tables are printed one at a time, so that each one's rows can be let
// go before the next is taken.
int print_tables(const run_config& config, name_lookups lookups, std::span<stat_table> tables,
                 const capture_outcome& outcome, const interval_mark* interval) {
    const std::unique_ptr<report_writer> writer = make_report_writer(config, stdout);
    const label_settings labels = label_settings_of(config, lookups);
    report_summary summary;
    summary.outcome = outcome;
    if (interval != nullptr) {
        summary.interval = *interval;
    }
    summary.complete = every_row_printed(tables, config.max_lines);
    table_rows rows;
    std::vector<wide_row> wide_rows;
    if (!tables.empty()) {
        take(tables[0], rows, wide_rows);
    }
    if (rows.size() == 0) {
        if (interval != nullptr && config.format == report_format::text) {
            // A quiet interval between busy ones: its line says it was.
            writer->begin(summary);
            writer->end();
            return finish_output();
        }
        if (interval == nullptr) {
            std::fputs("No packets processed.\n", stderr);
        }
        // A program still gets a document it can read: no rows, zero totals.
        if (config.format == report_format::text) {
            return 0;
        }
        summary.complete = true;
        writer->begin(summary);
        for (std::size_t table = 0; table < tables.size(); ++table) {
            writer->begin_table(tables[table].kind);
            writer->end_table();
        }
        writer->end();
        return finish_output();
    }
    // Total holds one entry: every counted packet has the same Total key.
    summary.packets = rows.rows().front().packets;
    summary.bytes = rows.rows().front().bytes;
    writer->begin(summary);
    writer->begin_table(tables[0].kind);
    label_rows(tables[0].kind, 1, rows.rows(), {}, labels, writer->rows());
    writer->end_table();

    for (std::size_t table = 1; table < tables.size(); ++table) {
        const std::uint32_t kind = tables[table].kind;
        writer->begin_table(kind);
        take(tables[table], rows, wide_rows);
        const std::size_t lines =
            line_count(rows.size() + wide_rows.size(), config.max_lines);
        sort_largest_first(rows.rows(), std::min(lines, rows.size()), kind);
        sort_largest_first(wide_rows, lines);
        label_rows(kind, static_cast<std::uint32_t>(lines), rows.rows(), wide_rows, labels,
                   writer->rows());
        writer->end_table();
    }
    writer->end();
    return finish_output();
}

// The JSON document says how many frames came late; the text and CSV
// reports have no place for it that a reader of the counts would see.
void tell_late_frames(const run_config& config, const interval_mark& interval) {
    if (interval.late != 0 && config.format != report_format::json) {
        std::fprintf(stderr,
                     "tallywire: interval %s/%s holds %llu frames that came after it had "
                     "closed\n",
                     interval.start.c_str(), interval.end.c_str(),
                     static_cast<unsigned long long>(interval.late));
    }
}

}  // namespace

int print_report(const run_config& config, const capture_outcome& outcome,
                 name_lookups lookups) {
    return print_tables(config, lookups, stat_tables, outcome, nullptr);
}

int print_merged_report(const run_config& config, std::span<stat_table> tables,
                        const capture_outcome& outcome, name_lookups lookups) {
    return print_tables(config, lookups, tables, outcome, nullptr);
}

int print_interval_report(const run_config& config, std::span<stat_table> tables,
                          const capture_outcome& outcome, const interval_mark& interval,
                          name_lookups lookups) {
    const int result = print_tables(config, lookups, tables, outcome, &interval);
    tell_late_frames(config, interval);
    return result;
}

}  // namespace tallywire
