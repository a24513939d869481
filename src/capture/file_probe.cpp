#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "capture/file_descriptor.h"
#include "capture/sources.h"

namespace tallywire {

namespace {

constexpr std::size_t magic_size = 8;
constexpr std::array<std::uint8_t, magic_size> snoop_identification = {'s', 'n', 'o', 'o',
                                                                       'p', 0,   0,   0};

// The pcap magic numbers as their writer's host stored them.
constexpr std::uint32_t pcap_magic = 0xa1b2c3d4;
constexpr std::uint32_t nanosecond_pcap_magic = 0xa1b23c4d;
// A pcapng section header's block type reads the same in either byte order.
constexpr std::uint32_t pcapng_magic = 0x0a0d0d0a;
constexpr std::uint32_t modified_pcap_magic = 0xa1b2cd34;
constexpr std::array<std::uint8_t, 2> gzip_magic = {0x1f, 0x8b};
constexpr std::array<std::uint8_t, 4> zstd_magic = {0x28, 0xb5, 0x2f, 0xfd};

template <std::size_t size>
bool begins_with(std::span<const std::uint8_t, magic_size> magic,
                 const std::array<std::uint8_t, size>& prefix) {
    return std::equal(prefix.begin(), prefix.end(), magic.begin());
}

}  // namespace

// The first word is read in this host's byte order, so a capture written on
// a host of the other order shows its magic byte-reversed.
std::optional<capture_format> recognise_format(std::span<const std::uint8_t, magic_size> magic) {
    std::uint32_t first_word = 0;
    std::memcpy(&first_word, magic.data(), sizeof first_word);
    for (const std::uint32_t magic : {pcap_magic, nanosecond_pcap_magic}) {
        if (first_word == magic || first_word == __builtin_bswap32(magic)) {
            return capture_format::pcap;
        }
    }
    if (first_word == pcapng_magic) {
        return capture_format::pcapng;
    }
    if (first_word == modified_pcap_magic || first_word == __builtin_bswap32(modified_pcap_magic)) {
        return capture_format::modified_pcap;
    }
    if (std::equal(magic.begin(), magic.end(), snoop_identification.begin())) {
        return capture_format::snoop;
    }
    if (begins_with(magic, gzip_magic)) {
        return capture_format::gzip;
    }
    if (begins_with(magic, zstd_magic)) {
        return capture_format::zstd;
    }
    return std::nullopt;
}

int probe_file_format(const std::string& path, capture_format& code) {
    std::array<std::uint8_t, magic_size> magic{};
    read_outcome outcome;
    {
        const file_descriptor file = open_for_reading(path);
        if (!file) {
            return -1;
        }
        outcome = read_at_least(file.get(), magic, magic.size());
    }
    if (outcome.count != magic.size()) {
        std::fputs("read(): couldn't read file magic\n", stderr);
        return -1;
    }
    if (const auto recognised = recognise_format(magic)) {
        code = *recognised;
    }
    return 0;
}

}  // namespace tallywire
