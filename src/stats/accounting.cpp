#include "stats/accounting.h"

#include <arpa/inet.h>

#include <cstring>

#include "capture/byte_order.h"
#include "capture/packet_record.h"
#include "program_state.h"
#include "stats/ordered_store.h"
#include "stats/stat_tables.h"

namespace {

constexpr std::uint32_t total_value = 2;
constexpr std::uint8_t protocol_tcp = 6;
constexpr std::uint8_t protocol_udp = 17;

// IPv4 header fields, as offsets into the network-layer bytes.
constexpr std::size_t ipv4_fragment_field = 6;
constexpr std::size_t ipv4_protocol_field = 9;
constexpr std::size_t ipv4_source_field = 12;
constexpr std::size_t ipv4_destination_field = 16;
constexpr std::size_t ipv6_next_header_field = 6;

std::uint32_t ip_value(const packet_record& packet) {
    const std::size_t field = is_ipv4(packet)   ? ipv4_protocol_field
                              : is_ipv6(packet) ? ipv6_next_header_field
                                                : 0;
    if (field == 0 || !has_captured(packet, field, 1)) {
        return 0;
    }
    return std::uint32_t{transport_protocol(packet)} + 1;
}

// The TCP or UDP port of one side, read where the header length puts the
// transport header. A fragment after the first carries no transport header,
// and neither does a header too short to be IPv4's.
std::uint32_t port_value(const packet_record& packet, bool source_side) {
    if (!is_ipv4(packet) || !has_captured(packet, 0, ipv4_protocol_field + 1)) {
        return 0;
    }
    const std::uint8_t* header = packet.data.data();
    const std::uint8_t protocol = header[ipv4_protocol_field];
    if (protocol != protocol_tcp && protocol != protocol_udp) {
        return 0;
    }
    const std::size_t header_words = header[0] & 0x0fu;
    const bool later_fragment = (read_big_endian16(header + ipv4_fragment_field) & 0x1fffu) != 0;
    const std::size_t transport = header_words * 4;
    if (header_words < 5 || later_fragment || !has_captured(packet, transport, 4)) {
        return 0;
    }
    const std::uint32_t port = read_big_endian16(header + transport + (source_side ? 0 : 2));
    if (current_settings.port_limit_enabled &&
        port >= static_cast<std::uint32_t>(current_settings.port_limit)) {
        return 0;
    }
    return port;
}

// The address exactly as it lies in the header, read as one number.
std::uint32_t host_value(const packet_record& packet, bool source_side) {
    if (!is_ipv4(packet) || !has_captured(packet, ipv4_source_field, 8)) {
        return 0;
    }
    std::uint32_t address;
    std::memcpy(&address,
                packet.data.data() + (source_side ? ipv4_source_field : ipv4_destination_field),
                sizeof address);
    return address;
}

// The classful network of an address in network byte order, as inet_netof
// gives it: one, two or three leading bytes by the address class. A missing
// address is 0, and so is its network.
std::uint32_t network_value(const packet_record& packet, bool source_side) {
    const std::uint32_t address = ntohl(host_value(packet, source_side));
    if ((address & 0x80000000u) == 0) {
        return address >> 24;
    }
    if ((address & 0xc0000000u) == 0x80000000u) {
        return address >> 16;
    }
    return address >> 8;
}

// Inlined: the per-frame loop calls it for three kinds.
[[gnu::always_inline]] inline void count_one_sided(stat_table& table, std::uint32_t value,
                                                   std::uint32_t length) {
    if (value != 0) {
        count_into(table, table_key{value, 0}, length);
    }
}

// A packet whose two sides agree is counted once unless directions are told
// apart.
void count_two_sided(stat_table& table, std::uint32_t source, std::uint32_t destination,
                     std::uint32_t length) {
    const bool split = current_settings.direction_split;
    const table_key destination_key{destination, static_cast<std::int8_t>(split ? 1 : 0)};
    if (source != 0) {
        count_into(table, table_key{source, 0}, length);
    }
    if (destination != 0 && (destination != source || split)) {
        count_into(table, destination_key, length);
    }
}

}  // namespace

std::uint32_t extract_key(std::uint32_t kind, const packet_record& packet, bool source_side) {
    switch (kind) {
    case stat_total: return total_value;
    case stat_link: return packet.link_code + 1;
    case stat_ip: return ip_value(packet);
    case stat_port: return port_value(packet, source_side);
    case stat_host: return host_value(packet, source_side);
    case stat_network: return network_value(packet, source_side);
    default: return 0;
    }
}

void account_packet(const packet_record& packet) {
    const std::uint32_t length = packet.counted_length;
    for (stat_table& table : stat_tables) {
        switch (table.kind) {
        case stat_total: count_one_sided(table, total_value, length); break;
        case stat_link: count_one_sided(table, packet.link_code + 1, length); break;
        case stat_ip: count_one_sided(table, ip_value(packet), length); break;
        case stat_port:
            count_two_sided(table, port_value(packet, true), port_value(packet, false), length);
            break;
        case stat_host:
            count_two_sided(table, host_value(packet, true), host_value(packet, false), length);
            break;
        case stat_network:
            count_two_sided(table, network_value(packet, true), network_value(packet, false),
                            length);
            break;
        default: break;  // no key of any other kind
        }
    }
}

void accounting_sink(const packet_record* packet, void*) { account_packet(*packet); }
