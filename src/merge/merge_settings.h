#pragma once

// The counting settings of merged reports: those a report states, those
// the merge's command line names, and how they must agree.

#include <cstdint>
#include <optional>

#include "settings.h"

namespace tallywire {

// The counting settings a report states, compared setting by setting.
struct counting_settings {
    std::uint32_t kinds = 0;
    bool direction_split = false;
    std::optional<std::int32_t> port_limit;
    bool ipv6 = false;
    bool look_through = false;
};

// Every counting setting, for comparing one part with another.
inline constexpr named_settings every_setting{true, true, true, true, true};

// The name of the first setting on which a and b differ, or null; only the
// settings named in compared are looked at.
const char* first_difference(const counting_settings& a, const counting_settings& b,
                             const named_settings& compared);

// The same for a part and what the command line asks of it: the command
// line may select fewer kinds than the part counted (their sums are as
// exact), not more.
const char* first_unmet(const counting_settings& part, const counting_settings& asked,
                        const named_settings& named);

// The counting settings of a command line's config.
counting_settings command_line_settings(const run_config& command_line);

// The config the sums are reported with: the command line's, with the
// parts' counting settings in place of its own, so that the report labels
// the sums as the parts' runs would have; the kinds are the command line's
// when it names them.
run_config adopt(const run_config& command_line, const counting_settings& stated);

}  // namespace tallywire
