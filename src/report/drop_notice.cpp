#include "report/drop_notice.h"

#include <cstdio>

namespace tallywire {

namespace {

const char* frames_word(std::uint64_t count) { return count == 1 ? "frame" : "frames"; }

}  // namespace

std::string drop_notice(const capture_outcome& outcome) {
    if (!outcome.drops || outcome.drops->total() == 0) {
        return "";
    }
    const drop_counts& drops = *outcome.drops;
    return "tallywire: " + std::to_string(drops.total()) + " " + frames_word(drops.total()) +
           " dropped (" + std::to_string(drops.by_kernel) + " by the kernel, " +
           std::to_string(drops.by_interface) +
           " by the interface): the counts are short by that many\n";
}

void print_drop_notice(const capture_outcome& outcome) {
    const std::string notice = drop_notice(outcome);
    std::fputs(notice.c_str(), stderr);
}

}  // namespace tallywire
