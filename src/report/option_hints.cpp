#include "report/option_hints.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

void say(std::uint64_t some, std::uint64_t frames, const char* what, const char* option_says) {
    std::fprintf(stderr, "tallywire: %" PRIu64 " of %" PRIu64 " frames %s; %s\n", some, frames,
                 what, option_says);
}

}  // namespace

void print_option_hints(const run_config& config, const option_hints& hints,
                        std::uint64_t frames) {
    // Said to a person at a terminal, as the progress line is: a script
    // that reads standard error finds there what it always found.
    if (frames == 0 || isatty(STDERR_FILENO) != 1) {
        return;
    }
    if (!config.look_through) {
        if (hints.look_through_frames != 0 && hints.look_through_link != nullptr) {
            std::fprintf(stderr,
                         "tallywire: %" PRIu64 " of %" PRIu64
                         " frames are on a %s link; --look-through classifies them\n",
                         hints.look_through_frames, frames, hints.look_through_link);
        }
        if (hints.tagged != 0) {
            say(hints.tagged, frames, "are VLAN-tagged", "--look-through classifies them");
        }
        if (hints.pppoe != 0) {
            say(hints.pppoe, frames, "are in PPPoE sessions", "--look-through classifies them");
        }
    }
    constexpr std::uint32_t two_sided_kinds = stat_port | stat_host | stat_network;
    if (!config.ipv6 && hints.ipv6 != 0 && (config.stat_kinds & two_sided_kinds) != 0) {
        say(hints.ipv6, frames, "are IPv6", "--ipv6 counts them in Port, Host and Network");
    }
}

}  // namespace tallywire
