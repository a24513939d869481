#pragma once

// What a frame's link-layer headers say: its link code, and where the
// network-layer header begins. Used by decode_frame only.

#include <cstddef>
#include <cstdint>

#include "capture/bounded_read.h"

namespace tallywire {

struct link_layer {
    std::uint32_t link_code = 0;
    // Bytes before the network-layer header; a frame whose headers its
    // capture cut short has them all (its view captures nothing).
    std::size_t header_length = 0;
};

// --look-through: the link types decode_frame reads by default, read through VLAN tags, PPPoE
// sessions and MPLS stacks, PPP with or without its address and control
// bytes, loopback headers of either byte order and of every system's IPv6
// number, and Linux cooked, raw IP and PPP serial captures.
link_layer look_through_link(int datalink, byte_span frame);

// The name of a link type that only --look-through reads ("Linux
// cooked"), for the hint after a report; null for the others.
const char* look_through_only_link(int datalink);

}  // namespace tallywire
