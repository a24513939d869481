#include "capture/link_type_numbers.h"

#include <pcap/pcap.h>

#include <array>

namespace tallywire {

namespace {

struct renumbered {
    std::uint32_t linktype;
    int datalink;
};

// The file numbers that are not the host's DLT_ values.
constexpr std::array<renumbered, 5> renumbered_types = {{
    {100, DLT_ATM_RFC1483},
    {101, DLT_RAW},
    {102, DLT_SLIP_BSDOS},
    {103, DLT_PPP_BSDOS},
    {106, DLT_ATM_CLIP},
}};

constexpr std::uint32_t linktype_bits = 0x03ffffff;

}  // namespace

int datalink_of_linktype(std::uint32_t linktype) {
    linktype &= linktype_bits;
    for (const renumbered& entry : renumbered_types) {
        if (entry.linktype == linktype) {
            return entry.datalink;
        }
    }
    return static_cast<int>(linktype);
}

}  // namespace tallywire
