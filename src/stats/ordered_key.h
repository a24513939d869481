#pragma once

#include <cstdint>

#include "stats/table_records.h"

namespace tallywire {

// Inside a store a key is one 64-bit number whose order is the order of
// compare_keys: the value in the upper bits, then the direction, flipped so
// that signed directions sort as numbers. Without a direction split every
// key carries direction 0, so keys that differ only in direction meet.
inline std::uint64_t pack_key(const table_key& key, bool direction_split) {
    const std::uint8_t direction = direction_split ? static_cast<std::uint8_t>(key.direction) : 0;
    return std::uint64_t{key.value} << 8 | (direction ^ 0x80u);
}

inline table_key unpack_key(std::uint64_t key) {
    return table_key{static_cast<std::uint32_t>(key >> 8),
                     static_cast<std::int8_t>(static_cast<std::uint8_t>(key) ^ 0x80u)};
}

}  // namespace tallywire
