#pragma once

#include <cstdint>

// Network-order fields of frames and capture files, read byte by byte so that
// neither alignment nor the host's byte order matters.
inline std::uint16_t read_big_endian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline std::uint32_t read_big_endian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}
