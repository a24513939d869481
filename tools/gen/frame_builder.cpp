#include "frame_builder.h"

#include <arpa/inet.h>

#include <cstring>
#include <stdexcept>

namespace twgen {

void put16(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put32(bytes& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value >> 16));
    put16(out, static_cast<std::uint16_t>(value));
}

namespace {

void append(bytes& out, std::span<const std::uint8_t> tail) {
    out.insert(out.end(), tail.begin(), tail.end());
}

std::uint16_t checksum(std::span<const std::uint8_t> header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < header.size(); i += 2) {
        sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
    }
    if (header.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(header.back() << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// ARP, reverse ARP and AppleTalk ARP share one layout: Ethernet hardware
// addresses and a 4-byte protocol address.
bytes address_resolution(std::uint16_t protocol_type, std::uint16_t operation,
                         std::uint32_t sender, std::uint32_t target) {
    bytes out;
    put16(out, 1);  // Ethernet
    put16(out, protocol_type);
    out.push_back(6);
    out.push_back(4);
    put16(out, operation);
    out.insert(out.end(), {0x02, 0, 0, 0, 0, 1});
    put32(out, sender);
    out.insert(out.end(), 6, 0);
    put32(out, target);
    return out;
}

// The two addresses that open every Ethernet frame, in a buffer with room
// for the whole frame.
bytes mac_header(const mac_address& dst, const mac_address& src, std::size_t frame_length) {
    bytes out;
    out.reserve(frame_length);
    out.insert(out.end(), dst.begin(), dst.end());
    out.insert(out.end(), src.begin(), src.end());
    return out;
}

}  // namespace

std::array<std::uint8_t, 4> ipv4_bytes(std::uint32_t address) {
    return {static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
}

std::uint32_t ipv4_address(const char* dotted) {
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted, &parsed) != 1) {
        throw std::invalid_argument(std::string("not an IPv4 address: ") + dotted);
    }
    return ntohl(parsed.s_addr);
}

bytes ethernet(const mac_address& dst, const mac_address& src, std::uint16_t ether_type,
               std::span<const std::uint8_t> payload) {
    bytes out = mac_header(dst, src, 14 + payload.size());
    put16(out, ether_type);
    append(out, payload);
    return out;
}

bytes ethernet_vlan(const mac_address& dst, const mac_address& src, std::uint16_t vlan_id,
                    std::uint16_t inner_type, std::span<const std::uint8_t> payload) {
    bytes out = mac_header(dst, src, 18 + payload.size());
    put16(out, ethertype_vlan);
    put16(out, static_cast<std::uint16_t>(vlan_id & 0x0fff));
    put16(out, inner_type);
    append(out, payload);
    return out;
}

bytes ethernet_8023(const mac_address& dst, const mac_address& src,
                    std::span<const std::uint8_t> payload) {
    const bytes llc = {0x42, 0x42, 0x03};  // spanning-tree LLC header
    bytes out = mac_header(dst, src, 17 + payload.size());
    put16(out, static_cast<std::uint16_t>(llc.size() + payload.size()));
    append(out, llc);
    append(out, payload);
    return out;
}

bytes null_link(std::uint32_t family, std::span<const std::uint8_t> payload) {
    bytes out(4);
    out.reserve(4 + payload.size());
    std::memcpy(out.data(), &family, 4);  // host byte order, as BSD writes it
    append(out, payload);
    return out;
}

bytes ppp(std::uint16_t protocol, std::span<const std::uint8_t> payload) {
    bytes out = {0xff, 0x03};
    out.reserve(4 + payload.size());
    put16(out, protocol);
    append(out, payload);
    return out;
}

bytes cisco_hdlc(std::uint16_t ether_type, std::span<const std::uint8_t> payload) {
    bytes out = {0x0f, 0x00};
    put16(out, ether_type);
    append(out, payload);
    return out;
}

namespace {

// One NFLOG TLV: length (its own 4 bytes included) and type in this host's
// byte order, the value, padding to 4 bytes.
void put_nflog_tlv(bytes& out, std::uint16_t type, std::span<const std::uint8_t> value) {
    const auto length = static_cast<std::uint16_t>(4 + value.size());
    std::uint8_t header[4];
    std::memcpy(header, &length, 2);
    std::memcpy(header + 2, &type, 2);
    out.insert(out.end(), header, header + 4);
    append(out, value);
    out.resize((out.size() + 3) / 4 * 4, 0);
}

}  // namespace

bytes nflog(std::uint8_t family, std::span<const std::uint8_t> payload) {
    bytes out = {family, 0, 0, 1};
    const std::uint8_t hardware_protocol[] = {0x08, 0x00, 0x01, 0x00};
    const std::uint8_t prefix[] = {'e', 't', 'h'};
    put_nflog_tlv(out, 1, hardware_protocol);
    put_nflog_tlv(out, 10, prefix);
    put_nflog_tlv(out, 9, payload);
    return out;
}

bytes ipv4(std::uint32_t src, std::uint32_t dst, std::uint8_t protocol,
           std::span<const std::uint8_t> payload, const ipv4_options& options) {
    const std::size_t header_length = static_cast<std::size_t>(options.header_words & 0x0f) * 4;
    const std::size_t built_header = header_length < 20 ? 20 : header_length;
    bytes out;
    out.reserve(built_header + payload.size());
    out.push_back(static_cast<std::uint8_t>(0x40 | (options.header_words & 0x0f)));
    out.push_back(0);  // type of service
    put16(out, static_cast<std::uint16_t>(built_header + payload.size()));
    put16(out, 0x1234);  // identification
    std::uint16_t flags_offset = static_cast<std::uint16_t>(options.fragment_offset & 0x1fff);
    if (options.more_fragments) {
        flags_offset |= 0x2000;
    }
    put16(out, flags_offset);
    out.push_back(options.ttl);
    out.push_back(protocol);
    put16(out, 0);  // checksum, filled below
    put32(out, src);
    put32(out, dst);
    out.resize(built_header, 0x01);  // options: NOPs
    const std::uint16_t sum = checksum(std::span(out).first(built_header));
    out[10] = static_cast<std::uint8_t>(sum >> 8);
    out[11] = static_cast<std::uint8_t>(sum);
    append(out, payload);
    return out;
}

bytes ipv6(const ipv6_address& src, const ipv6_address& dst, std::uint8_t next_header,
           std::span<const std::uint8_t> payload) {
    bytes out = {0x60, 0, 0, 0};
    out.reserve(40 + payload.size());
    put16(out, static_cast<std::uint16_t>(payload.size()));
    out.push_back(next_header);
    out.push_back(64);  // hop limit
    out.insert(out.end(), src.begin(), src.end());
    out.insert(out.end(), dst.begin(), dst.end());
    append(out, payload);
    return out;
}

bytes tcp(std::uint16_t src_port, std::uint16_t dst_port, std::size_t payload_length) {
    bytes out;
    out.reserve(20 + payload_length);
    put16(out, src_port);
    put16(out, dst_port);
    put32(out, 1);           // sequence
    put32(out, 0);           // acknowledgement
    out.push_back(5 << 4);   // data offset
    out.push_back(0x18);     // PSH, ACK
    put16(out, 65535);       // window
    put16(out, 0);           // checksum (not computed)
    put16(out, 0);           // urgent pointer
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes udp(std::uint16_t src_port, std::uint16_t dst_port, std::size_t payload_length) {
    bytes out;
    out.reserve(8 + payload_length);
    put16(out, src_port);
    put16(out, dst_port);
    put16(out, static_cast<std::uint16_t>(8 + payload_length));
    put16(out, 0);
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes icmp_echo(std::size_t payload_length) {
    bytes out = {8, 0, 0, 0, 0, 1, 0, 1};
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes arp(std::uint16_t operation, std::uint32_t sender, std::uint32_t target) {
    return address_resolution(ethertype_ipv4, operation, sender, target);
}

bytes ipx(std::uint32_t src_network, std::uint32_t dst_network, std::size_t payload_length) {
    bytes out;
    put16(out, 0xffff);  // no checksum
    put16(out, static_cast<std::uint16_t>(30 + payload_length));
    out.push_back(0);    // transport control
    out.push_back(4);    // packet exchange
    put32(out, dst_network);
    out.insert(out.end(), {0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    put16(out, 0x0453);  // routing information socket
    put32(out, src_network);
    out.insert(out.end(), {0x02, 0, 0, 0, 0, 1});
    put16(out, 0x0453);
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes appletalk_ddp(std::uint16_t src_network, std::uint16_t dst_network,
                    std::size_t payload_length) {
    bytes out;
    put16(out, static_cast<std::uint16_t>((13 + payload_length) & 0x03ff));  // hops 0
    put16(out, 0);  // no checksum
    put16(out, dst_network);
    put16(out, src_network);
    out.push_back(0xff);  // destination node: broadcast
    out.push_back(0x01);  // source node
    out.push_back(2);     // destination socket: names information
    out.push_back(2);     // source socket
    out.push_back(2);     // NBP
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes aarp(std::uint16_t operation, std::uint32_t sender, std::uint32_t target) {
    return address_resolution(ethertype_appletalk, operation, sender, target);
}

bytes ppp_control(std::uint8_t code, std::uint8_t identifier, std::size_t payload_length) {
    bytes out = {code, identifier};
    put16(out, static_cast<std::uint16_t>(4 + payload_length));
    out.resize(out.size() + payload_length, 0);
    return out;
}

bytes filler(std::size_t length, std::uint8_t value) {
    return bytes(length, value);
}

}  // namespace twgen
