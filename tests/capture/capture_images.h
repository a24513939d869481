#pragma once

// Capture files in the layouts that libpcap's dump API does not write:
// pcapng (either byte order, several interfaces and sections, every packet
// block type, timestamp resolutions and offsets) and the modified pcap
// format; and nanosecond pcap, which it does write, through it.

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "gen/capture_writer.h"

namespace twtest {

using image_bytes = std::vector<std::uint8_t>;

enum class packet_block { enhanced = 6, simple = 3, obsolete = 2 };

// pcapng blocks, in this host's byte order or the other one.
class pcapng_image {
public:
    explicit pcapng_image(bool other_order = false) { section(other_order); }

    // Starts a new section (its interfaces start over).
    void section(bool other_order) {
        other_order_ = other_order;
        block(0x0a0d0d0a, [&] {
            put32(0x1a2b3c4d);
            put16(1);
            put16(0);
            put32(0xffffffff);  // section length unknown: -1 as 64 bits
            put32(0xffffffff);
        });
    }

    // tsresol: the if_tsresol byte; tsoffset: if_tsoffset seconds.
    void interface(std::uint16_t link_type, std::uint32_t snap_length,
                   std::optional<std::uint8_t> tsresol = std::nullopt,
                   std::optional<std::uint64_t> tsoffset = std::nullopt) {
        block(1, [&] {
            put16(link_type);
            put16(0);
            put32(snap_length);
            if (tsresol) {
                put16(9);
                put16(1);
                bytes.push_back(*tsresol);
                pad();
            }
            if (tsoffset) {
                put16(14);
                put16(8);
                put64(*tsoffset);
            }
            if (tsresol || tsoffset) {
                put32(0);  // opt_endofopt
            }
        });
    }

    // units: the timestamp in the interface's units.
    void packet(std::uint32_t interface_id, std::span<const std::uint8_t> frame,
                std::uint32_t wire_length, std::uint64_t units = 0,
                packet_block kind = packet_block::enhanced) {
        block(static_cast<std::uint32_t>(kind), [&] {
            if (kind == packet_block::simple) {
                put32(wire_length);
            } else {
                if (kind == packet_block::enhanced) {
                    put32(interface_id);
                } else {
                    put16(static_cast<std::uint16_t>(interface_id));
                    put16(0);  // drops
                }
                put32(static_cast<std::uint32_t>(units >> 32));
                put32(static_cast<std::uint32_t>(units));
                put32(static_cast<std::uint32_t>(frame.size()));
                put32(wire_length);
            }
            bytes.insert(bytes.end(), frame.begin(), frame.end());
            pad();
        });
    }

    // A block of a type no reader keeps, with a body of body_size bytes.
    void other_block(std::uint32_t type, std::size_t body_size) {
        block(type, [&] { bytes.resize(bytes.size() + ((body_size + 3) & ~std::size_t{3}), 0x5a); });
    }

    // Where each block starts, the last entry where the image ends.
    std::vector<std::size_t> block_starts{0};
    image_bytes bytes;

private:
    template <class Body>
    void block(std::uint32_t type, Body body) {
        const std::size_t start = bytes.size();
        put32(type);
        put32(0);  // the length, written once the body is known
        body();
        const auto length = static_cast<std::uint32_t>(bytes.size() - start + 4);
        put32(length);
        const std::uint32_t stored = other_order_ ? __builtin_bswap32(length) : length;
        std::memcpy(bytes.data() + start + 4, &stored, sizeof stored);
        block_starts.push_back(bytes.size());
    }
    void pad() { bytes.resize((bytes.size() + 3) & ~std::size_t{3}, 0); }
    void put16(std::uint16_t value) {
        value = other_order_ ? __builtin_bswap16(value) : value;
        put_bytes(&value, sizeof value);
    }
    void put32(std::uint32_t value) {
        value = other_order_ ? __builtin_bswap32(value) : value;
        put_bytes(&value, sizeof value);
    }
    void put64(std::uint64_t value) {
        value = other_order_ ? __builtin_bswap64(value) : value;
        put_bytes(&value, sizeof value);
    }
    void put_bytes(const void* data, std::size_t size) {
        const auto* first = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), first, first + size);
    }

    bool other_order_ = false;
};

// One interface and every frame on it as enhanced packet blocks, timestamps
// in microseconds.
inline image_bytes pcapng_of(std::uint16_t link_type, std::span<const twgen::frame> frames,
                             bool other_order = false) {
    pcapng_image image(other_order);
    image.interface(link_type, 65535);
    for (const twgen::frame& f : frames) {
        image.packet(0, f.bytes,
                     f.wire_length != 0 ? f.wire_length : static_cast<std::uint32_t>(f.bytes.size()),
                     static_cast<std::uint64_t>(f.seconds) * 1'000'000u +
                         static_cast<std::uint64_t>(f.microseconds));
    }
    return image.bytes;
}

// A classic pcap image turned into the modified format: its magic, and
// eight more bytes (interface index, protocol, packet type, padding) after
// every record header.
inline image_bytes modified_of(const image_bytes& pcap) {
    image_bytes out(pcap.begin(), pcap.begin() + 24);
    std::uint32_t magic = 0;
    std::memcpy(&magic, out.data(), 4);
    const bool other = magic == 0xd4c3b2a1;
    const std::uint32_t modified = other ? 0x34cdb2a1 : 0xa1b2cd34;
    std::memcpy(out.data(), &modified, 4);
    for (std::size_t at = 24; at + 16 <= pcap.size();) {
        std::uint32_t caplen = 0;
        std::memcpy(&caplen, pcap.data() + at + 8, 4);
        caplen = other ? __builtin_bswap32(caplen) : caplen;
        out.insert(out.end(), pcap.begin() + static_cast<std::ptrdiff_t>(at),
                   pcap.begin() + static_cast<std::ptrdiff_t>(at + 16));
        const image_bytes extra = {0, 0, 0, 2, 0x08, 0x00, 0, 0};
        out.insert(out.end(), extra.begin(), extra.end());
        out.insert(out.end(), pcap.begin() + static_cast<std::ptrdiff_t>(at + 16),
                   pcap.begin() + static_cast<std::ptrdiff_t>(at + 16 + caplen));
        at += 16 + caplen;
    }
    return out;
}

// A pcap image with every 16- and 32-bit header field byte-swapped: the
// same capture as a host of the other byte order writes it.
inline image_bytes other_order_of(const image_bytes& pcap) {
    image_bytes out = pcap;
    const auto swap_at = [&](std::size_t offset, std::size_t width) {
        std::reverse(out.begin() + static_cast<std::ptrdiff_t>(offset),
                     out.begin() + static_cast<std::ptrdiff_t>(offset + width));
    };
    std::uint32_t caplen = 0;
    swap_at(0, 4);
    swap_at(4, 2);
    swap_at(6, 2);
    for (std::size_t field = 8; field < 24; field += 4) {
        swap_at(field, 4);
    }
    for (std::size_t at = 24; at + 16 <= pcap.size();) {
        std::memcpy(&caplen, pcap.data() + at + 8, 4);
        for (std::size_t field = 0; field < 16; field += 4) {
            swap_at(at + field, 4);
        }
        at += 16 + caplen;
    }
    return out;
}

// A nanosecond pcap file through libpcap's dump API.
inline void write_nanosecond_pcap(const std::string& path, int datalink,
                                  std::span<const twgen::frame> frames) {
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(datalink, 65535,
                                                        PCAP_TSTAMP_PRECISION_NANO);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        pcap_close(dead);
        throw std::runtime_error("pcap_dump_open failed");
    }
    for (const twgen::frame& f : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(f.seconds);
        header.ts.tv_usec = static_cast<suseconds_t>(f.microseconds * 1000 + 999);
        header.caplen = static_cast<bpf_u_int32>(f.bytes.size());
        header.len = f.wire_length != 0 ? f.wire_length : header.caplen;
        pcap_dump(reinterpret_cast<unsigned char*>(dumper), &header, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

}  // namespace twtest
