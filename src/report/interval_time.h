#pragma once

// The bounds of a report's interval as text: ISO 8601 in UTC, with as many
// decimals of a second as the interval's length needs (none for whole
// seconds, up to three for milliseconds), "2026-12-10T09:14:00Z". The merge
// reads them back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallywire {

// The decimals of a second that every multiple of the length needs: 0 to 3.
int interval_decimals(std::int64_t length_microseconds);

// microseconds since the epoch (before it too) with that many decimals.
std::string interval_time_text(std::int64_t microseconds, int decimals);

// The microseconds since the epoch that text names, in the form written
// above with 0 to 6 decimals; nothing for any other text.
std::optional<std::int64_t> parse_interval_time(std::string_view text);

}  // namespace tallywire
