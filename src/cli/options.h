#pragma once

#include <cstdint>
#include <string_view>

#include "settings.h"

namespace tallywire {

// The set of stat_kind bits that the letters of one -S argument name.
std::uint32_t parse_stat_letters(std::string_view letters);

enum class option_outcome { run, usage };

// Reads the options of argv into out, stopping at the first word that is
// not an option. On usage, the caller prints the usage text.
option_outcome read_options(int argc, char** argv, settings& out);

}  // namespace tallywire
