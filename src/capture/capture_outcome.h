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

struct capture_outcome {
    // Reading stopped at an error (a damaged record, a damaged compressed
    // stream) after the source had opened: the counts cover the frames
    // before it.
    bool stopped_at_read_error = false;
    // Set when a live capture ended and libpcap gave its statistics.
    std::optional<drop_counts> drops;
};

}  // namespace tallywire
