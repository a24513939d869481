#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <cstring>

#include "cli/usage.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

// The leading "+" keeps glibc from permuting: reading stops at the first
// word that is not an option.
constexpr const char* option_letters = "+h?ndpP:Rf:i:s:S:r:t:";

// Long options answer with values outside the letters' range.
enum long_option : int {
    option_help = 256,
    option_version,
    option_look_through,
    option_ipv6,
    option_format,
    option_merge,
    option_threads,
    option_interval,
};

// More counting threads than this gain nothing on any machine tallywire
// runs on, and each costs a set of tables.
constexpr unsigned most_counting_threads = 256;

constexpr option long_options[] = {
    {"help", no_argument, nullptr, option_help},
    {"version", no_argument, nullptr, option_version},
    {"look-through", no_argument, nullptr, option_look_through},
    {"ipv6", no_argument, nullptr, option_ipv6},
    {"format", required_argument, nullptr, option_format},
    {"merge", required_argument, nullptr, option_merge},
    {"threads", required_argument, nullptr, option_threads},
    {"interval", required_argument, nullptr, option_interval},
    {nullptr, 0, nullptr, 0},
};

void copy_text_setting(std::string& into, const char* text) {
    into.assign(text, strnlen(text, max_text_setting));
}

std::int32_t read_integer(const char* text) {
    return static_cast<std::int32_t>(std::strtol(text, nullptr, 10));
}

// Whether text is wholly a decimal number within [low, high], as strtol
// would read it (leading blanks and a sign allowed).
bool whole_number_within(const char* text, long low, long high) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// The letters of a -S argument that name no statistic.
std::string unknown_stat_letters(std::string_view letters) {
    std::string unknown;
    for (const char letter : letters) {
        if (std::string_view("alipnh").find(letter) == std::string_view::npos) {
            unknown += letter;
        }
    }
    return unknown;
}

// Only positive values and exactly -1 (no limit) are accepted; a NaN passes
// too, and the capture then has no time limit.
bool acceptable_seconds(double seconds) {
    return !(seconds <= 0 && seconds != -1.0);
}

// The words --format takes, with what each selects.
struct format_word {
    std::string_view word;
    report_format format;
};
constexpr format_word format_words[] = {
    {"text", report_format::text},
    {"csv", report_format::csv},
    {"json", report_format::json},
};

std::optional<report_format> parse_format(std::string_view word) {
    for (const format_word& known : format_words) {
        if (known.word == word) {
            return known.format;
        }
    }
    return std::nullopt;
}

// The units --interval takes, in milliseconds; a length without one is in
// seconds.
struct interval_unit {
    std::string_view suffix;
    std::int64_t milliseconds;
};
constexpr interval_unit interval_units[] = {
    {"ms", 1}, {"s", 1000}, {"m", 60'000}, {"h", 3'600'000}, {"", 1000},
};
// Longer than any capture could span, and far from overflowing the
// microseconds the intervals are reckoned in.
constexpr std::int64_t longest_interval_ms = std::int64_t{100} * 366 * 24 * 3'600'000;

// A decimal number and an optional unit, as a whole number of at least one
// millisecond: "500ms", "10", "2.5s", "5m", "1h". Finer lengths than a
// millisecond are refused rather than rounded, so that the intervals are
// the ones asked for.
std::optional<std::int64_t> parse_interval_ms(std::string_view text) {
    std::size_t digits_end = 0;
    while (digits_end < text.size() &&
           ((text[digits_end] >= '0' && text[digits_end] <= '9') || text[digits_end] == '.')) {
        ++digits_end;
    }
    const std::string_view number = text.substr(0, digits_end);
    const std::string_view suffix = text.substr(digits_end);
    const interval_unit* unit = nullptr;
    for (const interval_unit& known : interval_units) {
        if (known.suffix == suffix) {
            unit = &known;
            break;
        }
    }
    const std::size_t point = number.find('.');
    const std::string_view whole = number.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
    if (unit == nullptr || (whole.empty() && fraction.empty()) ||
        fraction.find('.') != std::string_view::npos || whole.size() > 12 || fraction.size() > 6) {
        return std::nullopt;
    }
    // whole.fraction units, in units of 10^-fraction.size() milliseconds.
    std::int64_t scaled = 0;
    std::int64_t scale = 1;
    for (const char digit : whole) {
        scaled = scaled * 10 + (digit - '0');
    }
    for (const char digit : fraction) {
        scaled = scaled * 10 + (digit - '0');
        scale *= 10;
    }
    if (scaled > longest_interval_ms * scale / unit->milliseconds) {
        return std::nullopt;
    }
    const std::int64_t product = scaled * unit->milliseconds;
    if (product % scale != 0 || product / scale < 1) {
        return std::nullopt;
    }
    return product / scale;
}

// A merge reads counts, not frames: an option that chooses or shapes a
// capture has nothing to act on beside it.
bool refuse_source_beside_merge(const char* program_path, const option_reading& reading) {
    if (!reading.source_option) {
        return false;
    }
    std::fprintf(stderr, "%s: --merge reads reports, not a capture: -%c cannot stand beside it\n",
                 std::string(base_name(program_path)).c_str(), *reading.source_option);
    return true;
}

}  // namespace

std::uint32_t parse_stat_letters(std::string_view letters) {
    std::uint32_t kinds = 0;
    for (const char letter : letters) {
        switch (letter) {
        case 'a': kinds |= stat_link | stat_ip | stat_port | stat_host | stat_network; break;
        case 'l': kinds |= stat_link; break;
        case 'i': kinds |= stat_ip; break;
        case 'p': kinds |= stat_port; break;
        case 'h': kinds |= stat_host; break;
        case 'n': kinds |= stat_network; break;
        default: break;
        }
    }
    return kinds;
}

option_reading read_options(int argc, char** argv, run_config& out) {
    optind = 0;  // full reinitialisation, so that a second call reads afresh
    option_reading reading;
    int files_named = 0;
    int letter;
    while ((letter = getopt_long(argc, argv, option_letters, long_options, nullptr)) != -1) {
        switch (letter) {
        case option_help: return option_reading{option_outcome::help};
        case option_version: return option_reading{option_outcome::version};
        case option_look_through:
            out.look_through = true;
            out.named.look_through = true;
            break;
        case option_ipv6:
            out.ipv6 = true;
            out.named.ipv6 = true;
            break;
        case option_format: {
            const std::optional<report_format> format = parse_format(optarg);
            if (!format) {
                std::fprintf(stderr, "%s: --format takes text, csv or json, not '%s'\n",
                             std::string(base_name(argv[0])).c_str(), optarg);
                return option_reading{option_outcome::usage};
            }
            out.format = *format;
            break;
        }
        case option_merge: out.merge_source = optarg; break;
        case option_threads: {
            char* end = nullptr;
            errno = 0;
            const unsigned long threads = std::strtoul(optarg, &end, 10);
            if (errno != 0 || end == optarg || *end != '\0' || optarg[0] == '-' || threads == 0 ||
                threads > most_counting_threads) {
                std::fprintf(stderr, "%s: --threads takes a number from 1 to %u, not '%s'\n",
                             std::string(base_name(argv[0])).c_str(), most_counting_threads,
                             optarg);
                return option_reading{option_outcome::usage};
            }
            out.counting_threads = static_cast<unsigned>(threads);
            break;
        }
        case option_interval: {
            const std::optional<std::int64_t> milliseconds = parse_interval_ms(optarg);
            if (!milliseconds) {
                std::fprintf(stderr,
                             "%s: --interval takes a length of at least 1ms, such as 500ms, 10, "
                             "10s, 5m or 1h, not '%s'\n",
                             std::string(base_name(argv[0])).c_str(), optarg);
                return option_reading{option_outcome::refused};
            }
            out.interval_microseconds = *milliseconds * 1000;
            break;
        }
        case 'd':
            out.direction_split = true;
            out.named.direction_split = true;
            break;
        case 'f': copy_text_setting(out.filter_expression, optarg); break;
        case 'i':
            copy_text_setting(out.source_name, optarg);
            out.mode.live = true;
            break;
        case 'n': out.no_resolve = true; break;
        case 'p': out.mode.promiscuous = false; break;
        case 'P':
            out.port_limit = read_integer(optarg);
            if (!whole_number_within(optarg, 0, 65535)) {
                reading.warnings.push_back("-P '" + std::string(optarg) +
                                           "' is not a port number (0 to 65535); it is read as " +
                                           std::to_string(out.port_limit));
            }
            out.port_limit_enabled = true;
            out.named.port_limit = true;
            break;
        case 'r':
            copy_text_setting(out.source_name, optarg);
            out.mode.live = false;
            ++files_named;
            break;
        case 'R':
            out.port_limit_enabled = true;
            out.named.port_limit = true;
            break;
        case 's':
            out.capture_seconds = std::atof(optarg);
            if (!acceptable_seconds(out.capture_seconds)) {
                std::fprintf(stderr,
                             "%s: -s '%s' is not a number of seconds above 0 (or -1 for no "
                             "limit)\n",
                             std::string(base_name(argv[0])).c_str(), optarg);
                return option_reading{option_outcome::usage};
            }
            break;
        case 'S': {
            out.stat_kinds |= parse_stat_letters(optarg);
            out.named.stat_kinds = true;
            const std::string unknown = unknown_stat_letters(optarg);
            if (!unknown.empty()) {
                reading.warnings.push_back("-S '" + std::string(optarg) + "': '" + unknown +
                                           "' names no statistic (a, l, i, p, h, n) and is "
                                           "ignored");
            }
            break;
        }
        case 't':
            out.max_lines = read_integer(optarg);
            // A negative number asks for every row.
            if (!whole_number_within(optarg, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max())) {
                reading.warnings.push_back("-t '" + std::string(optarg) +
                                           "' is not a number of rows; it is read as " +
                                           std::to_string(out.max_lines) +
                                           (out.max_lines < 0 ? " (every row)" : ""));
            }
            break;
        default:  // -h, -?, an unknown or ambiguous option, a missing argument
            return option_reading{option_outcome::usage};
        }
        if (letter == 'r' || letter == 'i' || letter == 'f' || letter == 's') {
            reading.source_option = static_cast<char>(letter);
        }
    }
    if (files_named > 1) {
        reading.warnings.push_back("-r is given " + std::to_string(files_named) +
                                   " times; only the last, '" + out.source_name +
                                   "', is read");
    }
    if (out.merge_source && refuse_source_beside_merge(argv[0], reading)) {
        return option_reading{option_outcome::refused};
    }
    if (out.source_name.empty()) {
        out.source_name = "auto";
        out.mode.live = true;
    }
    if (optind < argc) {
        reading.first_ignored = argv[optind];
    }
    return reading;
}

}  // namespace tallywire
