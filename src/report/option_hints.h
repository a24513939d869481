#pragma once

// The lines after a report that point at data an option would count:
// frames that landed in a catch-all row only because --look-through or
// --ipv6 was off. They are counted as they are; the hint says how many, and
// which option classifies them.

#include <cstdint>

#include "capture/capture_outcome.h"
#include "settings.h"

namespace tallywire {

// One line on standard error for each kind of such frames, of frames
// counted in all, when standard error is a terminal.
void print_option_hints(const run_config& config, const option_hints& hints,
                        std::uint64_t frames);

}  // namespace tallywire
