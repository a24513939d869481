#pragma once

// How every kind's key is made and read: the one place that says what a
// table's key holds. The accounting makes keys here, and the stores, the
// row sort, the labels, the name lookups, the JSON and CSV writers and the
// merge's reader of those documents read them back here.
//
//   kind     key                                    value 0
//   Total    total_value, the same for every packet -
//   Link     link code + 1                          (never: codes start at 0)
//   IP       protocol number + 1                    (never: protocols start at 0)
//   Port     the port number                        port 0: no key
//   Host     IPv4: the four address bytes as they   0.0.0.0: no key
//            lie in the header, loaded as one number
//            IPv6: a wide key, the sixteen bytes    :: is no key
//   Network  IPv4: the classful network number in   class A network 0: no key
//            host order (inet_netof's)
//            IPv6: a wide key, the /64 prefix with  ::/64 is a key like any other
//            the rest of its bytes zero
//
// Value 0 is "no key of this kind": a walk of a table starts there, and a
// packet without a port, an address or a network is not counted under one.
// Link codes and protocol numbers start at 0, so they are kept one up; that
// "+ 1" is stated here and nowhere else.
//
// Keys too wide for 32 bits are wide keys (key16 and a direction). Keys of
// pairs to come (two addresses, two ports and a protocol: 37 bytes) take a
// type of their own beside these, made and read here like the others.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "stats/stat_kinds.h"

namespace tallywire {

// direction: 0 source side, 1 destination side (only under -d).
struct table_key {
    std::uint32_t value = 0;
    std::int8_t direction = 0;
};

// Sixteen bytes of key: an IPv6 address, or its /64 prefix with the rest of
// its bytes zero. Held as the two words its bytes make when loaded as they
// lie (first: bytes 0-7, the /64 prefix), so that it compares and hashes as
// two numbers: a memcmp or a hash of sixteen single bytes costs more than
// the lookup it serves. Ordered as its bytes are.
struct key16 {
    std::uint64_t first = 0;
    std::uint64_t second = 0;

    static key16 of_bytes(std::span<const std::uint8_t, 16> bytes) {
        key16 key;
        std::memcpy(&key.first, bytes.data(), 8);
        std::memcpy(&key.second, bytes.data() + 8, 8);
        return key;
    }
    std::array<std::uint8_t, 16> bytes() const {
        std::array<std::uint8_t, 16> out;
        std::memcpy(out.data(), &first, 8);
        std::memcpy(out.data() + 8, &second, 8);
        return out;
    }
    bool zero() const { return (first | second) == 0; }
    friend bool operator==(const key16&, const key16&) = default;
    // Byte order: the words as big-endian numbers.
    friend bool operator<(const key16& a, const key16& b) {
        const auto big = [](std::uint64_t word) {
            if constexpr (std::endian::native == std::endian::little) {
                return __builtin_bswap64(word);
            } else {
                return word;
            }
        };
        return big(a.first) != big(b.first) ? big(a.first) < big(b.first)
                                             : big(a.second) < big(b.second);
    }
    template <typename hash_state>
    friend hash_state AbslHashValue(hash_state state, const key16& key) {
        return hash_state::combine(std::move(state), key.first, key.second);
    }
};

// A wide key with its side, as table_key for 32-bit values.
struct wide_key {
    key16 value;
    std::int8_t direction = 0;

    friend bool operator==(const wide_key&, const wide_key&) = default;
    // Key order: the value's bytes, then the direction.
    friend bool operator<(const wide_key& a, const wide_key& b) {
        if (a.value == b.value) {
            return a.direction < b.direction;
        }
        return a.value < b.value;
    }
    template <typename hash_state>
    friend hash_state AbslHashValue(hash_state state, const wide_key& key) {
        return hash_state::combine(std::move(state), key.value, key.direction);
    }
};

namespace keys {

inline constexpr std::uint32_t total_value = 2;

constexpr std::uint32_t link_key(std::uint32_t link_code) { return link_code + 1; }
constexpr std::uint32_t link_code_of(std::uint32_t value) { return value - 1; }

constexpr std::uint32_t ip_key(std::uint8_t protocol) { return std::uint32_t{protocol} + 1; }
constexpr std::uint8_t protocol_of(std::uint32_t value) {
    return static_cast<std::uint8_t>(value - 1);
}

constexpr std::uint32_t port_key(std::uint16_t port) { return port; }
constexpr std::uint16_t port_of(std::uint32_t value) { return static_cast<std::uint16_t>(value); }

// The classful network of an address in host order, as inet_netof gives
// it: one, two or three leading bytes by the address class.
constexpr std::uint32_t network_key(std::uint32_t address) {
    if ((address & 0x80000000u) == 0) {
        return address >> 24;
    }
    if ((address & 0xc0000000u) == 0x80000000u) {
        return address >> 16;
    }
    return address >> 8;
}

// The Host key of an IPv4 address given in host order, and back: keys keep
// the bytes as they lie in the header.
inline std::uint32_t host_key(std::uint32_t address) {
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
        static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    std::uint32_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}
inline std::uint32_t address_of(std::uint32_t host_value) {
    std::array<std::uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &host_value, sizeof host_value);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// The IPv6 Network key of an address: its /64 prefix.
constexpr key16 ipv6_network_key(const key16& address) { return key16{address.first, 0}; }
// The wide key of an address for Host, or of its prefix for Network.
constexpr key16 ipv6_key(std::uint32_t kind, const key16& address) {
    return kind == stat_network ? ipv6_network_key(address) : address;
}

// The keys that a report writes as numbers (Link, IP, Port), as numbers
// and back; the number of Total's one key is 0 (written as null). Nothing
// for a number that no key of the kind has.
constexpr std::optional<std::uint32_t> number_of(std::uint32_t kind, std::uint32_t value) {
    switch (kind) {
    case stat_total: return 0;
    case stat_link: return link_code_of(value);
    case stat_ip: return protocol_of(value);
    case stat_port: return port_of(value);
    default: return std::nullopt;
    }
}
constexpr std::optional<std::uint32_t> value_of_number(std::uint32_t kind, std::uint64_t number) {
    switch (kind) {
    case stat_total: return number == 0 ? std::optional(total_value) : std::nullopt;
    case stat_link:
        return number <= 0xffff ? std::optional(link_key(static_cast<std::uint32_t>(number)))
                                : std::nullopt;
    case stat_ip:
        return number <= 0xff ? std::optional(ip_key(static_cast<std::uint8_t>(number)))
                              : std::nullopt;
    case stat_port:
        return number >= 1 && number <= 0xffff
                   ? std::optional(port_key(static_cast<std::uint16_t>(number)))
                   : std::nullopt;
    default: return std::nullopt;
    }
}

// Every value of a kind lies below this bound, or the kind's values are
// spread too wide for one: Total's one key; Link codes of 16 bits and IP
// protocols of 8, each one up; ports; and the class A and B networks, which
// fit 16 bits (class C ones do not). Hosts have no bound.
constexpr std::uint32_t small_value_bound(std::uint32_t kind) {
    switch (kind) {
    case stat_total: return total_value + 1;
    case stat_link: return link_key(0xffff) + 1;
    case stat_ip: return ip_key(0xff) + 1;
    case stat_port: return 0x10000;
    case stat_network: return 0x10000;
    default: return 0;
    }
}

// A key as one 64-bit number whose order is the key order: the value in
// the upper bits, then the direction, flipped so that signed directions
// sort as numbers. Without a direction split every key packs with
// direction 0, so keys that differ only in direction meet.
constexpr std::uint64_t pack(const table_key& key, bool direction_split) {
    const std::uint8_t direction = direction_split ? static_cast<std::uint8_t>(key.direction) : 0;
    return std::uint64_t{key.value} << 8 | (direction ^ 0x80u);
}
// A key as a number in the order of what it names, which orders rows of
// equal bytes in a report: the packed key, but for Host, whose value holds
// the address bytes as they lie in the header, the address's own order.
inline std::uint64_t natural_order(std::uint32_t kind, const table_key& key) {
    const std::uint32_t value = kind == stat_host ? address_of(key.value) : key.value;
    return pack(table_key{value, key.direction}, true);
}
constexpr table_key unpack(std::uint64_t packed) {
    return table_key{static_cast<std::uint32_t>(packed >> 8),
                     static_cast<std::int8_t>(static_cast<std::uint8_t>(packed) ^ 0x80u)};
}

}  // namespace keys

}  // namespace tallywire
