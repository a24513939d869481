#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace tallywire {

// The set of stat_kind bits that the letters of one -S argument name.
std::uint32_t parse_stat_letters(std::string_view letters);

// usage: the usage text on standard error, status 1; refused: the reason is
// already on standard error, status 1; help and version: their texts on
// standard output, status 0.
enum class option_outcome { run, usage, refused, help, version };

struct option_reading {
    option_reading() = default;
    explicit option_reading(option_outcome ended) : outcome(ended) {}

    option_outcome outcome = option_outcome::run;
    // The first word that is not an option, when there is one: it and the
    // words after it are ignored.
    std::optional<std::string_view> first_ignored;
    // The last of -r, -i, -f and -s given: each chooses or shapes a capture.
    std::optional<char> source_option;
    // Values taken as they read but likely not meant so, one line each for
    // standard error, without the program's name: the run goes on.
    std::vector<std::string> warnings;
};

// Reads the options of argv into out, stopping at the first word that is
// not an option, or after "--".
option_reading read_options(int argc, char** argv, run_config& out);

}  // namespace tallywire
