#include "cli/options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

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
    option_one_lookup_at_a_time,
};

constexpr option long_options[] = {
    {"help", no_argument, nullptr, option_help},
    {"version", no_argument, nullptr, option_version},
    {"look-through", no_argument, nullptr, option_look_through},
    {"ipv6", no_argument, nullptr, option_ipv6},
    // Shown by no help text: the comparison of the concurrent name lookups
    // with one-at-a-time ones needs the latter on demand.
    {"one-lookup-at-a-time", no_argument, nullptr, option_one_lookup_at_a_time},
    {nullptr, 0, nullptr, 0},
};

void copy_text_setting(std::string& into, const char* text) {
    into.assign(text, strnlen(text, max_text_setting));
}

std::int32_t read_integer(const char* text) {
    return static_cast<std::int32_t>(std::strtol(text, nullptr, 10));
}

// Only positive values and exactly -1 (no limit) are accepted; a NaN passes
// too, and the capture then has no time limit.
bool acceptable_seconds(double seconds) {
    return !(seconds <= 0 && seconds != -1.0);
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

option_reading read_options(int argc, char** argv, settings& out) {
    optind = 0;  // full reinitialisation, so that a second call reads afresh
    int letter;
    while ((letter = getopt_long(argc, argv, option_letters, long_options, nullptr)) != -1) {
        switch (letter) {
        case option_help: return {option_outcome::help, std::nullopt};
        case option_version: return {option_outcome::version, std::nullopt};
        case option_look_through: out.look_through = true; break;
        case option_ipv6: out.ipv6 = true; break;
        case option_one_lookup_at_a_time: out.one_lookup_at_a_time = true; break;
        case 'd': out.direction_split = true; break;
        case 'f': copy_text_setting(out.filter_expression, optarg); break;
        case 'i':
            copy_text_setting(out.source_name, optarg);
            out.mode.live = true;
            break;
        case 'n': out.no_resolve = true; break;
        case 'p': out.mode.promiscuous = false; break;
        case 'P':
            out.port_limit = read_integer(optarg);
            out.port_limit_enabled = true;
            break;
        case 'r':
            copy_text_setting(out.source_name, optarg);
            out.mode.live = false;
            break;
        case 'R': out.port_limit_enabled = true; break;
        case 's':
            out.capture_seconds = std::atof(optarg);
            if (!acceptable_seconds(out.capture_seconds)) {
                return {option_outcome::usage, std::nullopt};
            }
            break;
        case 'S': out.stat_kinds |= parse_stat_letters(optarg); break;
        case 't': out.max_lines = read_integer(optarg); break;
        default:  // -h, -?, an unknown or ambiguous option, a missing argument
            return {option_outcome::usage, std::nullopt};
        }
    }
    if (out.source_name.empty()) {
        out.source_name = "auto";
        out.mode.live = true;
    }
    option_reading reading;
    if (optind < argc) {
        reading.first_ignored = argv[optind];
    }
    return reading;
}

}  // namespace tallywire
