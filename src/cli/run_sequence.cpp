#include "cli/run_sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "capture/capture_state.h"
#include "capture/sources.h"
#include "cli/interval_run.h"
#include "cli/options.h"
#include "cli/usage.h"
#include "report/drop_notice.h"
#include "report/option_hints.h"
#include "report/interval_time.h"
#include "merge/merge_reader.h"
#include "report/report.h"
#include "settings.h"
#include "stats/accounting.h"
#include "stats/stat_tables.h"
#include "stats/table_counting.h"
#include "stats/table_keys.h"

namespace tallywire {

namespace {

// --help and --version succeed only when their text was written whole.
int finish_standard_output() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::perror("tallywire");
        return 1;
    }
    return 0;
}

// Closes what merge opened, but never standard input.
struct merge_input_closer {
    void operator()(std::FILE* file) const {
        if (file != stdin) {
            std::fclose(file);
        }
    }
};

// The sums of reports of intervals: one report per interval, in time
// order, as the runs over all the parts' frames would have written them.
int print_merged_intervals(merged_reports& sums, name_lookups lookups) {
    const int decimals = interval_decimals(sums.interval_length);
    bool first = true;
    bool short_of_frames = false;
    for (auto& [start, interval] : sums.intervals) {
        interval_mark mark;
        mark.start = interval_time_text(start, decimals);
        mark.end = interval_time_text(interval.end_microseconds, decimals);
        mark.partial = interval.partial;
        mark.late = interval.late;
        mark.first = first;
        first = false;
        if (print_interval_report(sums.config, interval.tables, interval.outcome, mark,
                                  lookups) != 0) {
            return 1;
        }
        interval.tables.clear();  // printed: their memory goes now
        short_of_frames |= interval.outcome.stopped_at_read_error;
    }
    return short_of_frames ? 2 : 0;
}

}  // namespace

int run_merge(const run_config& command_line, name_lookups lookups) {
    const std::string source = command_line.merge_source.value_or("-");
    const std::unique_ptr<std::FILE, merge_input_closer> input(
        source == "-" ? stdin : std::fopen(source.c_str(), "rb"));
    if (!input) {
        std::fprintf(stderr, "tallywire: --merge: cannot open %s: %s\n", source.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::optional<merged_reports> sums = merge_reports(input.get(), command_line);
    if (!sums) {
        return 1;
    }
    if (sums->of_intervals.value_or(false)) {
        return print_merged_intervals(*sums, lookups);
    }
    if (print_merged_report(sums->config, sums->tables, sums->outcome, lookups) != 0) {
        return 1;
    }
    print_drop_notice(sums->outcome);
    // A part cut short by a read error leaves the sum short as well.
    return sums->outcome.stopped_at_read_error ? 2 : 0;
}

int run_statistics(const run_config& config, name_lookups lookups) {
    // The sink's argument: the counting reads it with every frame.
    accounting_context counting = accounting_context_of(config);
    // Tables missing or half-open are never counted into, walked or closed.
    if (create_tables(config.stat_kinds, counting) != 0) {
        return 1;
    }
    // A live capture counts on the thread that captures; a file on as many
    // threads as asked, each into tables of its own, added up at the end.
    const unsigned threads = config.mode.live ? 1 : config.counting_threads;
    int source_result = 0;
    if (threads <= 1) {
        source_result = capture_from_source(config, accounting_sink, &counting);
    } else {
        // Memory that runs out on the way (for the threads, their batches
        // or their tables) ends the run as the tables' own shortage does.
        try {
            std::vector<table_counting> sets;
            if (open_counting_sets(config.stat_kinds, counting, threads, sets) != 0) {
                close_tables();
                return 1;
            }
            std::vector<void*> sink_args;
            for (table_counting& set : sets) {
                sink_args.push_back(&set);
            }
            source_result = capture_from_source(config, table_counting_sink, sink_args);
            if (add_counting_sets(sets) != 0) {
                close_tables();
                return 1;
            }
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            std::perror("Fatal! add_entry()");
            close_tables();
            return 1;
        }
    }
    // Read before the report takes the tables' rows.
    table_counters counted{};
    if (!stat_tables.empty()) {
        find_entry(stat_tables.front(), table_key{keys::total_value, 0}, counted);
    }
    // A report that could not be written whole (a full disk, a closed pipe)
    // is a failed run, not a completed one.
    const int report_result =
        source_result == 0 ? print_report(config, last_capture_outcome, lookups) : 0;
    if (source_result == 0) {
        print_drop_notice(last_capture_outcome);
        print_option_hints(config, last_capture_outcome.hints, counted.packets);
    }
    close_tables();
    if (source_result != 0 || report_result != 0) {
        return 1;
    }
    // A report of the frames before a read error looks like a whole one;
    // only the status tells a script that it is not.
    return last_capture_outcome.stopped_at_read_error ? 2 : 0;
}

int tallywire_main(int argc, char** argv, name_lookups lookups) {
    run_config config;
    const option_reading reading = read_options(argc, argv, config);
    switch (reading.outcome) {
    case option_outcome::usage: return print_usage(1, argv[0]);
    case option_outcome::refused: return 1;
    case option_outcome::help: print_help(argv[0]); return finish_standard_output();
    case option_outcome::version: print_version(); return finish_standard_output();
    case option_outcome::run: break;
    }
    for (const std::string& warning : reading.warnings) {
        std::fprintf(stderr, "%s: %s\n", std::string(base_name(argv[0])).c_str(),
                     warning.c_str());
    }
    if (reading.first_ignored) {
        warn_ignored_words(argv[0], *reading.first_ignored);
    }
    if (config.merge_source) {
        return run_merge(config, lookups);
    }
    if (config.interval_microseconds != 0) {
        return run_intervals(config, lookups);
    }
    return run_statistics(config, lookups);
}

}  // namespace tallywire
