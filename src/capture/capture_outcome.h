#pragma once

// How the last source ended, beyond "it ran": what a reader of the report
// needs to know to judge whether the counts are whole.

#include <cstdint>
#include <optional>

namespace tallywire {

// What libpcap says a live capture lost: frames the kernel had no room
// for, and frames the interface itself dropped.
struct drop_counts {
    std::uint64_t by_kernel = 0;
    std::uint64_t by_interface = 0;

    std::uint64_t total() const { return by_kernel + by_interface; }
};

// Frames that land in a catch-all row only because an option is off, so
// that a line after the report can say which option counts them.
struct option_hints {
    // Frames on a link type that only --look-through reads, and its name
    // for the hint (the last such link type met, in a file of several).
    std::uint64_t look_through_frames = 0;
    const char* look_through_link = nullptr;
    // Ethernet frames behind VLAN tags or a PPPoE session header, read
    // without --look-through.
    std::uint64_t tagged = 0;
    std::uint64_t pppoe = 0;
    // IPv6 packets, on any link.
    std::uint64_t ipv6 = 0;

    void add(const option_hints& more) {
        look_through_frames += more.look_through_frames;
        look_through_link = more.look_through_link ? more.look_through_link : look_through_link;
        tagged += more.tagged;
        pppoe += more.pppoe;
        ipv6 += more.ipv6;
    }
};

struct capture_outcome {
    // Reading stopped at an error (a damaged record, a damaged compressed
    // stream) after the source had opened: the counts cover the frames
    // before it.
    bool stopped_at_read_error = false;
    // Set when a live capture ended and libpcap gave its statistics.
    std::optional<drop_counts> drops;
    option_hints hints;
};

}  // namespace tallywire
