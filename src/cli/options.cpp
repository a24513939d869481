#include "cli/options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

#include "stats/stat_tables.h"

namespace {

// The leading "+" keeps glibc from permuting: reading stops at the first
// word that is not an option.
constexpr const char* option_letters = "+h?ndpP:Rf:i:s:S:r:t:";

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

// A long option that no help text shows: the comparison of the concurrent
// name lookups with one-at-a-time ones needs the latter on demand.
constexpr const char* one_lookup_at_a_time_word = "--one-lookup-at-a-time";
constexpr int one_lookup_at_a_time_code = 0x100;

// getopt, except that the hidden word, standing as a whole word where an
// option may begin, is read as the long option. Every other word goes to
// getopt alone, so its diagnostics ("invalid option -- '-'" for any other
// word that begins with two dashes) stay as they are.
int next_option(int argc, char** argv) {
    const int next_word = optind == 0 ? 1 : optind;  // 0: getopt starts afresh at word 1
    if (next_word < argc && std::strcmp(argv[next_word], one_lookup_at_a_time_word) == 0) {
        static const option hidden[] = {
            {one_lookup_at_a_time_word + 2, no_argument, nullptr, one_lookup_at_a_time_code},
            {nullptr, 0, nullptr, 0}};
        return getopt_long(argc, argv, option_letters, hidden, nullptr);
    }
    return getopt(argc, argv, option_letters);
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

option_outcome read_options(int argc, char** argv, settings& out) {
    optind = 0;  // full reinitialisation, so that a second call reads afresh
    int letter;
    while ((letter = next_option(argc, argv)) != -1) {
        switch (letter) {
        case one_lookup_at_a_time_code: out.one_lookup_at_a_time = true; break;
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
                return option_outcome::usage;
            }
            break;
        case 'S': out.stat_kinds |= parse_stat_letters(optarg); break;
        case 't': out.max_lines = read_integer(optarg); break;
        default:  // -h, -?, an unknown letter, a missing argument
            return option_outcome::usage;
        }
    }
    if (out.source_name.empty()) {
        out.source_name = "auto";
        out.mode.live = true;
    }
    return option_outcome::run;
}
