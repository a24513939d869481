#include "capture/capture_file_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "capture/link_type_numbers.h"

namespace tallywire {

namespace {

constexpr std::size_t pcap_file_header_size = 24;
constexpr std::size_t pcap_record_header_size = 16;
constexpr std::size_t modified_record_header_size = 24;

// The magic numbers as their writer's host stored them.
constexpr std::uint32_t microsecond_magic = 0xa1b2c3d4;
constexpr std::uint32_t nanosecond_magic = 0xa1b23c4d;
constexpr std::uint32_t modified_magic = 0xa1b2cd34;

constexpr std::uint32_t section_header_type = 0x0a0d0d0a;
constexpr std::uint32_t byte_order_magic = 0x1a2b3c4d;
constexpr std::uint32_t interface_description_type = 1;
constexpr std::uint32_t obsolete_packet_type = 2;
constexpr std::uint32_t simple_packet_type = 3;
constexpr std::uint32_t enhanced_packet_type = 6;

// A block's type and total length, and its trailing copy of the length.
constexpr std::size_t block_header_size = 8;
constexpr std::size_t block_trailer_size = 4;
constexpr std::size_t section_header_min_size = 28;
// No block this reader keeps may be longer: a packet of the largest
// captured length with every header and option fits many times over, and
// a stream's buffer never grows past it. Longer blocks of other types are
// passed over, not kept.
constexpr std::uint32_t longest_kept_block = std::uint32_t{16} << 20;
// Interfaces one section may describe: each costs a few bytes of memory,
// and a decompressed stream could otherwise describe them without end.
constexpr std::size_t most_interfaces = std::size_t{1} << 16;

constexpr std::uint16_t option_end = 0;
constexpr std::uint16_t option_tsresol = 9;
constexpr std::uint16_t option_tsoffset = 14;

constexpr std::uint64_t microseconds_per_second = 1'000'000;

std::uint32_t host32(std::span<const std::uint8_t, 4> bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

std::uint16_t host16(std::span<const std::uint8_t, 2> bytes) {
    std::uint16_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

// A captured length of 0 or beyond the maximum means no limit.
std::uint32_t effective_snap_length(std::uint32_t snap_length) {
    return snap_length == 0 || snap_length > maximum_captured_length ? maximum_captured_length
                                                                     : snap_length;
}

std::string at(std::uint64_t position) { return " at byte " + std::to_string(position); }

std::size_t padded4(std::size_t length) { return (length + 3) & ~std::size_t{3}; }

}  // namespace

std::uint32_t capture_file_reader::u32(std::span<const std::uint8_t, 4> bytes) const {
    const std::uint32_t value = host32(bytes);
    return swapped_ ? __builtin_bswap32(value) : value;
}

std::uint16_t capture_file_reader::u16(std::span<const std::uint8_t, 2> bytes) const {
    const std::uint16_t value = host16(bytes);
    return swapped_ ? __builtin_bswap16(value) : value;
}

file_read capture_file_reader::damaged(std::string text) {
    problem_ = std::move(text);
    finished_ = true;
    return file_read::damaged;
}

void capture_file_reader::note_link(int datalink) {
    const file_link link{datalink, swapped_};
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) {
        links_.push_back(link);
    }
}

bool capture_file_reader::open() {
    const auto magic = read_bytes<4>(input_.take(4), 0);
    if (!magic) {
        problem_ = "the file is too short to hold a capture";
        return false;
    }
    const std::uint32_t magic_value = host32(*magic);
    if (magic_value == section_header_type) {
        pcapng_ = true;
        const auto length = read_bytes<4>(input_.take(4), 0);
        if (!length) {
            problem_ = "the section header at byte 0 is cut short";
            return false;
        }
        return open_section(0, host32(*length));
    }
    const byte_span rest = input_.take(pcap_file_header_size - 4);
    if (rest.size() != pcap_file_header_size - 4) {
        problem_ = "the file header is cut short (" + std::to_string(4 + rest.size()) +
                   " of 24 bytes)";
        return false;
    }
    return open_pcap(magic_value, rest);
}

// The classic header after its magic: version, time zone, accuracy, snap
// length and link type.
bool capture_file_reader::open_pcap(std::uint32_t magic, byte_span header) {
    for (const std::uint32_t known : {microsecond_magic, nanosecond_magic, modified_magic}) {
        if (magic == known || magic == __builtin_bswap32(known)) {
            swapped_ = magic != known;
            nanoseconds_ = known == nanosecond_magic;
            record_header_size_ = known == modified_magic ? modified_record_header_size
                                                          : pcap_record_header_size;
        }
    }
    if (record_header_size_ == pcap_record_header_size && !nanoseconds_ &&
        magic != microsecond_magic && magic != __builtin_bswap32(microsecond_magic)) {
        problem_ = "not a pcap or pcapng capture (unknown magic number)";
        return false;
    }
    const std::uint16_t major = u16(header.subspan<0, 2>());
    const std::uint16_t minor = u16(header.subspan<2, 2>());
    // Version 2.4 and the earlier 2.x, whose writers could swap the two
    // lengths of a record; 543.0 is a writer that always swapped them.
    if (!(major == 2 && minor <= 4) && !(major == 543 && minor == 0)) {
        problem_ = "pcap version " + std::to_string(major) + "." + std::to_string(minor) +
                   " is not one tallywire reads";
        return false;
    }
    lengths_may_be_swapped_ = major == 543 || minor <= 3;
    always_swapped_ = major == 543 || minor < 3;
    pcap_interface_.snap_length = effective_snap_length(u32(header.subspan<12, 4>()));
    pcap_interface_.datalink = datalink_of_linktype(u32(header.subspan<16, 4>()));
    note_link(pcap_interface_.datalink);
    return true;
}

file_read capture_file_reader::next(file_frame& frame) {
    if (finished_) {
        return problem_.empty() ? file_read::end : file_read::damaged;
    }
    return pcapng_ ? next_pcapng(frame) : next_pcap(frame);
}

file_read capture_file_reader::next_pcap(file_frame& frame) {
    const std::uint64_t start = input_.position();
    const byte_span header = input_.take(record_header_size_);
    if (header.empty() && !input_.failed()) {
        finished_ = true;
        return file_read::end;
    }
    if (header.size() != record_header_size_) {
        return damaged("the record header" + at(start) + " is cut short (" +
                       std::to_string(header.size()) + " of " +
                       std::to_string(record_header_size_) + " bytes)");
    }
    const auto seconds = static_cast<std::int32_t>(u32(header.subspan(0).first<4>()));
    const auto fraction = static_cast<std::int32_t>(u32(header.subspan(4).first<4>()));
    std::uint32_t captured = u32(header.subspan(8).first<4>());
    std::uint32_t wire = u32(header.subspan(12).first<4>());
    if (lengths_may_be_swapped_ && (always_swapped_ || captured > wire)) {
        std::swap(captured, wire);
    }
    if (captured > maximum_captured_length) {
        return damaged("the record" + at(start) + " claims " + std::to_string(captured) +
                       " captured bytes, more than the " +
                       std::to_string(maximum_captured_length) + " a record may hold");
    }
    const byte_span body = input_.take(captured);
    if (body.size() != captured) {
        return damaged("the record" + at(start) + " is cut short (" +
                       std::to_string(body.size()) + " of its " + std::to_string(captured) +
                       " captured bytes)");
    }
    frame.datalink = pcap_interface_.datalink;
    frame.other_order = swapped_;
    frame.bytes = body.first(std::min(captured, pcap_interface_.snap_length));
    frame.wire_length = wire;
    frame.timestamp.seconds = seconds;
    frame.timestamp.microseconds = nanoseconds_ ? fraction / 1000 : fraction;
    return file_read::frame;
}

// A section header block at start, whose type and length (as the bytes
// lie, for the byte order is not known yet) have been read: its byte order,
// version and length; the rest of the block is passed over.
bool capture_file_reader::open_section(std::uint64_t start, std::uint32_t stored_length) {
    const std::string where = "the section header" + at(start);
    const auto order_bytes = read_bytes<4>(input_.take(4), 0);
    if (!order_bytes) {
        problem_ = where + " is cut short";
        return false;
    }
    const std::uint32_t order = host32(*order_bytes);
    if (order != byte_order_magic && order != __builtin_bswap32(byte_order_magic)) {
        problem_ = where + " has no byte-order magic";
        return false;
    }
    swapped_ = order != byte_order_magic;
    const std::uint32_t length = swapped_ ? __builtin_bswap32(stored_length) : stored_length;
    if (length < section_header_min_size || length % 4 != 0) {
        problem_ = where + " has a length of " + std::to_string(length) + " bytes";
        return false;
    }
    const auto version = read_bytes<4>(input_.take(4), 0);
    if (!version) {
        problem_ = where + " is cut short";
        return false;
    }
    const std::uint16_t major = u16(version->first<2>());
    if (major != 1) {
        problem_ = "pcapng version " + std::to_string(major) + "." +
                   std::to_string(u16(version->subspan<2, 2>())) + " (" + where +
                   ") is not one tallywire reads";
        return false;
    }
    // Past the version: the section length and options, then the trailer.
    if (!input_.skip(length - 16 - block_trailer_size)) {
        problem_ = where + " is cut short";
        return false;
    }
    const auto trailer = read_bytes<4>(input_.take(block_trailer_size), 0);
    if (!trailer) {
        problem_ = where + " is cut short";
        return false;
    }
    if (u32(*trailer) != length) {
        problem_ = where + " ends with a length of " + std::to_string(u32(*trailer)) +
                   " bytes, not its " + std::to_string(length);
        return false;
    }
    interfaces_.clear();
    return true;
}

file_read capture_file_reader::next_pcapng(file_frame& frame) {
    for (;;) {
        const std::uint64_t start = input_.position();
        const byte_span header_bytes = input_.take(block_header_size);
        if (header_bytes.empty() && !input_.failed()) {
            finished_ = true;
            return file_read::end;
        }
        const auto header = read_bytes<block_header_size>(header_bytes, 0);
        if (!header) {
            return damaged("the block header" + at(start) + " is cut short (" +
                           std::to_string(header_bytes.size()) + " of 8 bytes)");
        }
        const std::uint32_t type = u32(header->first<4>());
        if (type == section_header_type) {
            // The length is in the new section's byte order, which its
            // byte-order magic, after the length, tells.
            if (!open_section(start, host32(header->subspan<4, 4>()))) {
                return damaged(problem_);
            }
            continue;
        }
        const std::uint32_t length = u32(header->subspan<4, 4>());
        if (length < block_header_size + block_trailer_size || length % 4 != 0) {
            return damaged("the block" + at(start) + " has a length of " +
                           std::to_string(length) + " bytes");
        }
        const bool kept = type == interface_description_type ||
                          type == enhanced_packet_type || type == simple_packet_type ||
                          type == obsolete_packet_type;
        const std::size_t body_size = length - block_header_size - block_trailer_size;
        std::optional<std::uint32_t> trailing_length;
        byte_span body;
        if (kept) {
            if (length > longest_kept_block) {
                return damaged("the block" + at(start) + " has a length of " +
                               std::to_string(length) + " bytes, more than the " +
                               std::to_string(longest_kept_block) + " a block may have");
            }
            // Body and trailer in one piece: a frame's view of a buffered
            // input lasts only until the next take.
            const byte_span rest = input_.take(body_size + block_trailer_size);
            if (rest.size() != body_size + block_trailer_size) {
                return damaged("the block" + at(start) + " is cut short (" +
                               std::to_string(block_header_size + rest.size()) + " of its " +
                               std::to_string(length) + " bytes)");
            }
            body = rest.first(body_size);
            trailing_length = u32(rest.subspan(body_size).first<4>());
        } else {
            const auto trailer = input_.skip(body_size)
                                     ? read_bytes<4>(input_.take(block_trailer_size), 0)
                                     : std::nullopt;
            if (!trailer) {
                return damaged("the block" + at(start) + " is cut short (its length is " +
                               std::to_string(length) + " bytes)");
            }
            trailing_length = u32(*trailer);
        }
        if (*trailing_length != length) {
            return damaged("the block" + at(start) + " ends with a length of " +
                           std::to_string(*trailing_length) + " bytes, not its " +
                           std::to_string(length));
        }
        file_read found = file_read::end;
        if (type == interface_description_type) {
            found = read_interface(body, start);
        } else if (kept) {
            found = packet_block(type, body, start, frame);
        }
        if (found == file_read::damaged) {
            return found;
        }
        if (found == file_read::frame) {
            return found;
        }
    }
}

file_read capture_file_reader::read_interface(byte_span body, std::uint64_t start) {
    const auto fixed = read_bytes<8>(body, 0);
    if (!fixed) {
        return damaged("the interface description" + at(start) + " is too short");
    }
    if (interfaces_.size() >= most_interfaces) {
        return damaged("the section describes more than " + std::to_string(most_interfaces) +
                       " interfaces" + at(start));
    }
    interface described;
    described.datalink = datalink_of_linktype(u16(fixed->first<2>()));
    described.snap_length = effective_snap_length(u32(fixed->subspan<4, 4>()));
    bool seen_resolution = false;
    bool seen_offset = false;
    for (std::size_t offset = 8; offset + 4 <= body.size();) {
        const std::uint16_t code = u16(body.subspan(offset).first<2>());
        const std::uint16_t length = u16(body.subspan(offset + 2).first<2>());
        if (code == option_end) {
            break;
        }
        offset += 4;
        const std::size_t room = body.size() - offset;
        if (padded4(length) > room) {
            return damaged("an option of the interface description" + at(start) +
                           " runs past its block");
        }
        const byte_span value = body.subspan(offset, length);
        offset += padded4(length);
        if (code == option_tsresol && !seen_resolution) {
            seen_resolution = true;
            if (value.size() != 1) {
                return damaged("the interface description" + at(start) +
                               " has an if_tsresol of " + std::to_string(value.size()) +
                               " bytes, not 1");
            }
            const std::uint8_t exponent = value[0] & 0x7f;
            described.binary_units = (value[0] & 0x80) != 0;
            if (described.binary_units ? exponent > 63 : exponent > 19) {
                return damaged("the interface description" + at(start) +
                               " has a timestamp resolution too fine to count in");
            }
            std::uint64_t units = 1;
            for (std::uint8_t i = 0; i < exponent; ++i) {
                units *= described.binary_units ? 2 : 10;
            }
            described.units_per_second = units;
        } else if (code == option_tsoffset && !seen_offset) {
            seen_offset = true;
            if (value.size() != 8) {
                return damaged("the interface description" + at(start) +
                               " has an if_tsoffset of " + std::to_string(value.size()) +
                               " bytes, not 8");
            }
            std::uint64_t seconds = 0;
            std::memcpy(&seconds, value.data(), sizeof seconds);
            described.offset_seconds =
                static_cast<std::int64_t>(swapped_ ? __builtin_bswap64(seconds) : seconds);
        }
    }
    interfaces_.push_back(described);
    note_link(described.datalink);
    return file_read::end;
}

// An enhanced (6), simple (3) or obsolete (2) packet block's frame.
file_read capture_file_reader::packet_block(std::uint32_t type, byte_span body,
                                            std::uint64_t start, file_frame& frame) {
    std::uint32_t interface_number = 0;
    std::uint64_t units = 0;
    std::uint32_t captured = 0;
    std::uint32_t wire = 0;
    std::size_t data_offset = 0;
    if (type == simple_packet_type) {
        const auto fixed = read_bytes<4>(body, 0);
        if (!fixed) {
            return damaged("the simple packet block" + at(start) + " is too short");
        }
        wire = u32(*fixed);
        data_offset = 4;
    } else {
        const auto fixed = read_bytes<20>(body, 0);
        if (!fixed) {
            return damaged("the packet block" + at(start) + " is too short");
        }
        interface_number = type == enhanced_packet_type ? u32(fixed->first<4>())
                                                        : u16(fixed->first<2>());
        units = std::uint64_t{u32(fixed->subspan<4, 4>())} << 32 | u32(fixed->subspan<8, 4>());
        captured = u32(fixed->subspan<12, 4>());
        wire = u32(fixed->subspan<16, 4>());
        data_offset = 20;
    }
    if (interface_number >= interfaces_.size()) {
        return damaged("the packet block" + at(start) + " names interface " +
                       std::to_string(interface_number) + ", but the section describes " +
                       std::to_string(interfaces_.size()));
    }
    const interface& from = interfaces_[interface_number];
    if (type == simple_packet_type) {
        captured = std::min(wire, from.snap_length);
    }
    if (captured > maximum_captured_length) {
        return damaged("the packet block" + at(start) + " claims " + std::to_string(captured) +
                       " captured bytes, more than the " +
                       std::to_string(maximum_captured_length) + " a frame may hold");
    }
    // A pcapng interface's snap length binds its frames: more is damage,
    // not a frame to cut (classic pcap cuts it, as libpcap does).
    if (captured > from.snap_length) {
        return damaged("the packet block" + at(start) + " claims " + std::to_string(captured) +
                       " captured bytes, more than its interface's snap length of " +
                       std::to_string(from.snap_length));
    }
    if (captured > body.size() - data_offset) {
        return damaged("the packet block" + at(start) + " claims " + std::to_string(captured) +
                       " captured bytes, more than its block holds");
    }
    frame.datalink = from.datalink;
    frame.other_order = swapped_;
    frame.bytes = body.subspan(data_offset, captured);
    frame.wire_length = wire;
    // Seconds and a fraction of the interface's units, the fraction then
    // brought to microseconds, as libpcap does it, wrapping included.
    std::uint64_t seconds = units / from.units_per_second;
    std::uint64_t fraction = units % from.units_per_second;
    if (from.units_per_second != microseconds_per_second) {
        if (!from.binary_units && from.units_per_second > microseconds_per_second) {
            fraction /= from.units_per_second / microseconds_per_second;
        } else if (!from.binary_units) {
            fraction *= microseconds_per_second / from.units_per_second;
        } else {
            fraction = fraction * microseconds_per_second / from.units_per_second;
        }
    }
    seconds += static_cast<std::uint64_t>(from.offset_seconds);
    frame.timestamp.seconds = static_cast<std::int64_t>(seconds);
    frame.timestamp.microseconds = static_cast<std::int64_t>(fraction);
    return file_read::frame;
}

}  // namespace tallywire
