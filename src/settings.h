#pragma once

// What every layer reads: the options of the run. The command line reader
// fills one run_config, and the run hands it down by const reference to the
// source, the accounting and the report; no layer keeps a copy of its own
// that another could change under it.

#include <cstdint>
#include <optional>
#include <string>

namespace tallywire {

// Longest text kept from a -i, -r or -f argument; longer ones are cut
// silently, as if held in a 4096-byte buffer with its terminating zero.
inline constexpr std::size_t max_text_setting = 4095;

// How a source is to be opened: a live interface or a file, and whether a
// live interface goes into promiscuous mode (ignored for files).
struct capture_mode {
    bool live = false;
    bool promiscuous = true;
};

// What the report is written as: the text for people, or CSV or JSON for
// programs.
enum class report_format { text, csv, json };

// Which counting settings the command line named. A merge takes the parts'
// settings for those it leaves out, and must agree with the parts on the
// ones it names.
struct named_settings {
    bool stat_kinds = false;
    bool direction_split = false;
    bool port_limit = false;
    bool ipv6 = false;
    bool look_through = false;
};

struct run_config {
    std::uint32_t stat_kinds = 1;  // Total only
    capture_mode mode;             // promiscuous on, live off
    std::string source_name;
    std::string filter_expression;
    double capture_seconds = -1.0;  // no time limit
    bool direction_split = false;
    bool no_resolve = false;
    bool port_limit_enabled = false;
    std::int32_t port_limit = 1024;
    std::int32_t max_lines = -1;  // every row
    // Beyond the classic report, each opted into with a long option:
    bool look_through = false;  // classify tags, tunnels and more link types
    bool ipv6 = false;          // count IPv6 in Port, Host and Network
    report_format format = report_format::text;
    // --threads: how many threads count the frames of a file. One by
    // default: more are exact but, with tables of their own to fill and add
    // up, not yet faster on the machines measured.
    unsigned counting_threads = 1;
    // --interval: one report per interval of this many microseconds,
    // aligned to multiples of it since the Unix epoch; 0 for one report of
    // the whole run. Always a whole number of milliseconds.
    std::int64_t interval_microseconds = 0;
    // Set by --merge: the file of JSON reports to add up ("-" for standard
    // input), read instead of a capture.
    std::optional<std::string> merge_source;
    named_settings named;
};

}  // namespace tallywire
