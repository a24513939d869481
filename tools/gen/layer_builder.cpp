#include "layer_builder.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace twgen {
namespace {

constexpr std::uint16_t arphrd_ether = 1;
constexpr std::uint16_t to_us = 0;
constexpr std::uint16_t outgoing_packet = 4;

}  // namespace

bytes linux_cooked(std::uint16_t protocol, const mac_address& sender, bool outgoing) {
    bytes out;
    put16(out, outgoing ? outgoing_packet : to_us);
    put16(out, arphrd_ether);
    put16(out, 6);
    out.insert(out.end(), sender.begin(), sender.end());
    out.insert(out.end(), 2, 0);
    put16(out, protocol);
    return out;
}

bytes linux_cooked2(std::uint16_t protocol, const mac_address& sender, bool outgoing,
                    std::uint32_t interface_index) {
    bytes out;
    put16(out, protocol);
    put16(out, 0);
    put32(out, interface_index);
    put16(out, arphrd_ether);
    out.push_back(static_cast<std::uint8_t>(outgoing ? outgoing_packet : to_us));
    out.push_back(6);
    out.insert(out.end(), sender.begin(), sender.end());
    out.insert(out.end(), 2, 0);
    return out;
}

bytes mac_pair(const mac_address& dst, const mac_address& src) {
    bytes out(dst.begin(), dst.end());
    out.insert(out.end(), src.begin(), src.end());
    return out;
}

bytes type_field(std::uint16_t type) {
    bytes out;
    put16(out, type);
    return out;
}

bytes vlan_tag(std::uint16_t tag_control, std::uint16_t next_type) {
    bytes out;
    put16(out, tag_control);
    put16(out, next_type);
    return out;
}

bytes pppoe_session(std::uint16_t session, std::uint16_t protocol, std::size_t ppp_length) {
    bytes out = {0x11, 0x00};
    put16(out, session);
    put16(out, static_cast<std::uint16_t>(ppp_length));
    put16(out, protocol);
    return out;
}

std::uint32_t mpls_entry_value(std::uint32_t label, bool bottom, std::uint8_t ttl) {
    return (label & 0xfffff) << 12 | (bottom ? 0x100u : 0u) | ttl;
}

bytes mpls_entry(std::uint32_t entry) {
    bytes out;
    put32(out, entry);
    return out;
}

bytes ppp_header(std::uint16_t protocol, bool address_control, bool compressed) {
    if (compressed && (protocol > 0xff || protocol % 2 == 0)) {
        throw std::invalid_argument("only odd PPP protocols below 0x100 compress to one byte");
    }
    bytes out;
    if (address_control) {
        out = {0xff, 0x03};
    }
    if (compressed) {
        out.push_back(static_cast<std::uint8_t>(protocol));
    } else {
        put16(out, protocol);
    }
    return out;
}

bytes family_word(std::uint32_t family, bool network_order, bool swapped) {
    const bool big = network_order != swapped;
    bytes out;
    if (big) {
        put32(out, family);
    } else {
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(family >> shift));
        }
    }
    if (!network_order && std::endian::native == std::endian::big) {
        // The null link's "host order" is this host's, whichever it is.
        bytes flipped(out.rbegin(), out.rend());
        out = flipped;
    }
    return out;
}

bytes ipv6_extension(std::uint8_t type, std::uint8_t next_header, std::size_t size,
                     std::uint16_t fragment_offset, bool more_fragments) {
    bytes out = {next_header};
    switch (type) {
    case ip6_fragment:
        out.push_back(0);
        put16(out, static_cast<std::uint16_t>(fragment_offset << 3 | (more_fragments ? 1 : 0)));
        put32(out, 0x5eed0001);  // identification
        return out;
    case ip6_authentication:
        out.push_back(static_cast<std::uint8_t>(size / 4 - 2));
        put16(out, 0);
        put32(out, 0x00000100);  // security parameters index
        put32(out, 1);           // sequence number
        out.resize(size, 0);     // integrity check value
        return out;
    case ip6_routing:
        out.push_back(static_cast<std::uint8_t>(size / 8 - 1));
        out.push_back(253);  // experimental routing type
        out.push_back(0);    // segments left
        out.resize(size, 0);
        return out;
    default:  // Hop-by-Hop and Destination Options: one PadN option
        out.push_back(static_cast<std::uint8_t>(size / 8 - 1));
        out.push_back(1);
        out.push_back(static_cast<std::uint8_t>(size - 4));
        out.resize(size, 0);
        return out;
    }
}

}  // namespace twgen
