#pragma once

#include <string>

#include "capture/capture_outcome.h"

namespace tallywire {

// The line that follows the report of a live capture that lost frames:
// how many, where, and that the counts are short by as many. Empty when
// nothing was lost or the capture library gave no figures.
std::string drop_notice(const capture_outcome& outcome);

// Writes the drop notice, if there is one, on standard error.
void print_drop_notice(const capture_outcome& outcome);

}  // namespace tallywire
