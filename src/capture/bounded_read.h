#pragma once

// Fields of frames and capture files, read only where their bytes are. Each
// read takes the bytes it may use and an offset into them, and says
// "absent" when the field does not lie wholly inside them, so that no caller
// can forget the check: a frame's bytes are a view into the buffer its
// source read it into, where what lies past the view belongs to the next
// record or to no frame at all, and a read past a short frame's end can
// land there unseen. Network-order fields are put together byte by byte, so
// neither alignment nor the host's byte order matters.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace tallywire {

using byte_span = std::span<const std::uint8_t>;

// The count bytes at offset, or nothing when bytes end before them.
template <std::size_t count>
constexpr std::optional<std::span<const std::uint8_t, count>> read_bytes(byte_span bytes,
                                                                         std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < count) {
        return std::nullopt;
    }
    return bytes.subspan(offset).template first<count>();
}

constexpr std::uint16_t big_endian16(std::span<const std::uint8_t, 2> bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

constexpr std::uint32_t big_endian32(std::span<const std::uint8_t, 4> bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

constexpr std::optional<std::uint8_t> read_u8(byte_span bytes, std::size_t offset) {
    if (offset >= bytes.size()) {
        return std::nullopt;
    }
    return bytes[offset];
}

constexpr std::optional<std::uint16_t> read_big_endian16(byte_span bytes, std::size_t offset) {
    if (const auto field = read_bytes<2>(bytes, offset)) {
        return big_endian16(*field);
    }
    return std::nullopt;
}

constexpr std::optional<std::uint32_t> read_big_endian32(byte_span bytes, std::size_t offset) {
    if (const auto field = read_bytes<4>(bytes, offset)) {
        return big_endian32(*field);
    }
    return std::nullopt;
}

// Bytes as they lie, read as one unsigned number in the host's byte order
// (NFLOG's TLVs, the BSD loopback family word).
template <typename number>
std::optional<number> read_host(byte_span bytes, std::size_t offset) {
    if (const auto field = read_bytes<sizeof(number)>(bytes, offset)) {
        number value;
        std::memcpy(&value, field->data(), sizeof value);
        return value;
    }
    return std::nullopt;
}
inline std::optional<std::uint16_t> read_host16(byte_span bytes, std::size_t offset) {
    return read_host<std::uint16_t>(bytes, offset);
}
inline std::optional<std::uint32_t> read_host32(byte_span bytes, std::size_t offset) {
    return read_host<std::uint32_t>(bytes, offset);
}

}  // namespace tallywire
