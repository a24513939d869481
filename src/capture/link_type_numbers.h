#pragma once

#include <cstdint>

namespace tallywire {

// The DLT_ value (what the decoder and the filter compiler know a link
// type by) of a link type as capture files number it (LINKTYPE_). Most are
// equal; a few early ones were renumbered for files, because their DLT_
// values differ between systems. The bits above the low 26 (the FCS length
// of some files) are not part of the type. libpcap maps them the same way,
// which a test checks value by value.
int datalink_of_linktype(std::uint32_t linktype);

// The largest captured length a record may claim; libpcap refuses more.
inline constexpr std::uint32_t maximum_captured_length = 262144;

}  // namespace tallywire
