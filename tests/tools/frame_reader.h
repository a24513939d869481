#pragma once

// Reads a generated frame back into the fact it should have, straight from
// its bytes and without any of the generator's code, and checks the length
// fields and the IPv4 checksum on the way. The frame must be captured at
// least as far as its transport header.

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "gen/traffic_mix.h"

namespace tools_test {

inline std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

inline std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(be16(b, at)) << 16 | be16(b, at + 2);
}

// The one's-complement sum of a header whose checksum field is filled in:
// 0xffff when the checksum is right.
inline std::uint16_t ones_sum(std::span<const std::uint8_t> header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < header.size(); i += 2) {
        sum += be16(header, i);
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

struct read_result {
    twgen::frame_fact fact;
    std::string fault;  // empty when every length and checksum is right
};

class frame_reader {
public:
    frame_reader(int datalink, std::span<const std::uint8_t> bytes, std::uint32_t wire_length)
        : b_(bytes), wire_(wire_length) {
        r_.fact.datalink = datalink;
        r_.fact.header_words = 0;
        r_.fact.wire_length = wire_length;
        r_.fact.captured_length = static_cast<std::uint32_t>(bytes.size());
    }

    read_result read() {
        switch (r_.fact.datalink) {
        case 1: read_ethernet(); break;
        case 9: read_ppp(); break;
        case 0: read_null(); break;
        default: fault("unknown data-link type");
        }
        return r_;
    }

private:
    void fault(const std::string& what) {
        if (r_.fault.empty()) {
            r_.fault = what;
        }
    }

    void read_ethernet() {
        const std::uint16_t type = be16(b_, 12);
        r_.fact.link_word = type;
        switch (type) {
        case 0x0800: read_ipv4(14); return;
        case 0x86dd: read_ipv6(14); return;
        case 0x0806: r_.fact.kind = be16(b_, 20) == 3 ? "bad-arp" : "arp"; return;
        case 0x8035: r_.fact.kind = be16(b_, 20) == 3 ? "revarp" : "bad-revarp"; return;
        case 0x8137: r_.fact.kind = "ipx"; return;
        case 0x809b: r_.fact.kind = "appletalk"; return;
        case 0x80f3: r_.fact.kind = be16(b_, 16) == 0x809b ? "aarp" : "bad-aarp"; return;
        case 0x8100:
            r_.fact.kind = "vlan";
            if (be16(b_, 16) != 0x0800 || b_[18] != 0x45) {
                fault("VLAN tag without IPv4 inside");
            }
            return;
        default:
            if (type > 1500) {
                fault("unknown Ethernet type");
            } else if (type != wire_ - 14) {
                fault("802.3 length field does not match the frame");
            }
            r_.fact.kind = "ieee8023";
        }
    }

    void read_ppp() {
        if (b_[0] != 0xff || b_[1] != 0x03) {
            fault("PPP address and control are not ff 03");
        }
        const std::uint16_t protocol = be16(b_, 2);
        r_.fact.link_word = protocol;
        switch (protocol) {
        case 0x0021: read_ipv4(4); return;
        case 0x0057: read_ipv6(4); return;
        case 0x8021: r_.fact.kind = "ppp-ipcp"; return;
        case 0x8057: r_.fact.kind = "ppp-ipv6cp"; return;
        case 0x80fd: r_.fact.kind = "ppp-ccp"; return;
        case 0xc021: r_.fact.kind = "ppp-lcp"; return;
        case 0xc023: r_.fact.kind = "ppp-pap"; return;
        case 0xc223: r_.fact.kind = "ppp-chap"; return;
        default: r_.fact.kind = "ppp-other";
        }
    }

    void read_null() {
        std::uint32_t family = 0;
        std::memcpy(&family, b_.data(), 4);  // the writer's byte order, which is ours
        r_.fact.link_word = family;
        if (family == 2) {
            read_ipv4(4);
        } else if (family == 28) {
            read_ipv6(4);
        } else {
            r_.fact.kind = "null-other";
        }
    }

    void read_ipv4(std::size_t at) {
        twgen::frame_fact& f = r_.fact;
        if (b_[at] >> 4 != 4) {
            fault("IPv4 version is not 4");
        }
        f.ip_version = 4;
        f.header_words = b_[at] & 0x0f;
        const std::size_t header_length = f.header_words * 4u;
        if (be16(b_, at + 2) != wire_ - at) {
            fault("IPv4 total length does not match the wire length");
        }
        if (ones_sum(b_.subspan(at, header_length)) != 0xffff) {
            fault("IPv4 header checksum is wrong");
        }
        for (std::size_t i = at + 20; i < at + header_length; ++i) {
            if (b_[i] != 0x01) {
                fault("IPv4 options are not NOPs");
            }
        }
        const std::uint16_t flags_offset = be16(b_, at + 6);
        f.fragment_offset = flags_offset & 0x1fff;
        f.protocol = b_[at + 9];
        f.src = be32(b_, at + 12);
        f.dst = be32(b_, at + 16);
        const std::size_t transport = at + header_length;
        if (f.fragment_offset != 0) {
            f.kind = "ipv4-fragment";
            return;
        }
        if ((flags_offset & 0x2000) != 0) {
            fault("first fragment with more to come");
        }
        if (f.protocol == 1) {
            f.kind = "ipv4-icmp";
            return;
        }
        f.kind = f.header_words > 5 ? "ipv4-options" : f.protocol == 6 ? "ipv4-tcp" : "ipv4-udp";
        f.has_ports = true;
        f.src_port = be16(b_, transport);
        f.dst_port = be16(b_, transport + 2);
        check_transport(transport);
    }

    void read_ipv6(std::size_t at) {
        twgen::frame_fact& f = r_.fact;
        if (b_[at] >> 4 != 6) {
            fault("IPv6 version is not 6");
        }
        if (be16(b_, at + 4) != wire_ - at - 40) {
            fault("IPv6 payload length does not match the wire length");
        }
        f.ip_version = 6;
        f.protocol = b_[at + 6];
        f.kind = f.protocol == 6 ? "ipv6-tcp" : f.protocol == 17 ? "ipv6-udp" : "ipv6-other";
        check_transport(at + 40);
    }

    void check_transport(std::size_t at) {
        const std::uint8_t protocol = r_.fact.protocol;
        if (protocol == 17 && be16(b_, at + 4) != wire_ - at) {
            fault("UDP length does not match the wire length");
        }
        if (protocol == 6 && b_[at + 12] >> 4 != 5) {
            fault("TCP data offset is not 5");
        }
    }

    std::span<const std::uint8_t> b_;
    std::uint32_t wire_;
    read_result r_;
};

inline read_result read_frame(int datalink, std::span<const std::uint8_t> bytes,
                              std::uint32_t wire_length) {
    return frame_reader(datalink, bytes, wire_length).read();
}

// Reads a whole generated frame (not cut by a snap length) through every
// link header, tag, PPPoE header and MPLS label to its network packet, and
// fills the later fields of a fact from what it finds, checking the length
// fields that describe the rest of the frame on the way.
class layer_reader {
public:
    layer_reader(int datalink, std::span<const std::uint8_t> bytes) : d_(datalink), b_(bytes) {}

    read_result read() {
        switch (d_) {
        case 1: link("eth", be16(b_, 12), 14); ether_type(); break;
        case 113: link("sll", be16(b_, 14), 16); ether_type(); break;
        case 276: link("sll2", be16(b_, 0), 20); ether_type(); break;
        case 9:
        case 50: ppp(); break;
        case 0:
        case 108: family(); break;
        case 12: link("raw", b_[0] >> 4, 0); by_nibble(); break;
        case 228: link("raw", 4, 0); ipv4(); break;
        case 229: link("raw", 6, 0); ipv6(); break;
        default: fault("unknown data-link type");
        }
        r_.fact.net_offset = static_cast<std::uint32_t>(at_);
        return r_;
    }

private:
    twgen::frame_fact& f() { return r_.fact; }
    void fault(const std::string& what) {
        if (r_.fault.empty()) {
            r_.fault = what;
        }
    }

    void link(const char* name, std::uint32_t value, std::size_t size) {
        f().layers.push_back({name, value, static_cast<std::uint32_t>(size)});
        f().net_word = value;
        at_ += size;
    }

    void ether_type() {
        std::uint32_t type = f().net_word;
        while (type == 0x8100 || type == 0x88a8 || type == 0x9100) {
            type = be16(b_, at_ + 2);
            link("tag", type, 4);
        }
        if (type == 0x8864) {
            if (b_[at_] != 0x11 || b_[at_ + 1] != 0) {
                fault("PPPoE version, type or code");
            }
            pppoe_length_at_ = at_ + 4;
            link("pppoe", be16(b_, at_ + 6), 8);
            ppp_protocol();
            return;
        }
        switch (type) {
        case 0x0800: ipv4(); return;
        case 0x86dd: ipv6(); return;
        case 0x8847:
        case 0x8848: mpls(); return;
        default: return;
        }
    }

    void ppp() {
        const bool address_control = b_[0] == 0xff && b_[1] == 0x03;
        const std::size_t first = address_control ? 2 : 0;
        const bool compressed = b_[first] % 2 == 1;
        link("ppp", compressed ? b_[first] : be16(b_, first), first + (compressed ? 1 : 2));
        ppp_protocol();
    }

    void ppp_protocol() {
        switch (f().net_word) {
        case 0x0021: ipv4(); return;
        case 0x0057: ipv6(); return;
        case 0x0281:
        case 0x0283: mpls(); return;
        default: return;
        }
    }

    void family() {
        std::uint32_t word = 0;
        if (d_ == 0) {
            std::memcpy(&word, b_.data(), 4);
        } else {
            word = be32(b_, 0);
        }
        const bool swapped = (word & 0xffff0000) != 0;
        if (swapped) {
            word = (word >> 24) | (word >> 8 & 0xff00) | (word << 8 & 0xff0000) | (word << 24);
        }
        const std::string name = std::string(d_ == 0 ? "null" : "loop") + (swapped ? "-swapped" : "");
        link(name.c_str(), word, 4);
        if (word == 2) {
            ipv4();
        } else if (word == 24 || word == 28 || word == 30) {
            ipv6();
        }
    }

    void mpls() {
        for (;;) {
            const std::uint32_t entry = be32(b_, at_);
            link("mpls", entry, 4);
            if ((entry & 0x100) != 0) {
                break;
            }
        }
        f().net_word = b_[at_] >> 4;
        by_nibble();
    }

    void by_nibble() {
        if (f().net_word == 4) {
            ipv4();
        } else if (f().net_word == 6) {
            ipv6();
        }
    }

    void check_pppoe_length() {
        if (pppoe_length_at_ != 0 && be16(b_, pppoe_length_at_) != b_.size() - pppoe_length_at_ - 2) {
            fault("PPPoE length does not match the frame");
        }
    }

    void ipv4() {
        check_pppoe_length();
        const std::size_t at = at_;
        if (b_[at] >> 4 != 4) {
            fault("IPv4 version is not 4");
        }
        const std::size_t header = (b_[at] & 0x0f) * 4u;
        if (be16(b_, at + 2) != b_.size() - at) {
            fault("IPv4 total length does not match the frame");
        }
        if (ones_sum(b_.subspan(at, header)) != 0xffff) {
            fault("IPv4 header checksum is wrong");
        }
        f().net_version = 4;
        f().net_src = text(AF_INET, at + 12);
        f().net_dst = text(AF_INET, at + 16);
        f().upper_protocol = b_[at + 9];
        f().net_fragment_offset = be16(b_, at + 6) & 0x1fff;
        transport(at + header);
    }

    void ipv6() {
        check_pppoe_length();
        const std::size_t at = at_;
        const bool zeros = b_[at] == 0;
        if (!zeros && b_[at] >> 4 != 6) {
            fault("IPv6 version is not 6");
        }
        if (!zeros && be16(b_, at + 4) != b_.size() - at - 40) {
            fault("IPv6 payload length does not match the frame");
        }
        f().net_version = 6;
        f().net_src = text(AF_INET6, at + 8);
        f().net_dst = text(AF_INET6, at + 24);
        std::uint8_t next = b_[at + 6];
        std::size_t o = at + 40;
        while ((next == 0 || next == 43 || next == 44 || next == 51 || next == 60) &&
               o + 2 <= b_.size()) {
            const std::size_t size = next == 44 ? 8 : next == 51 ? (b_[o + 1] + 2u) * 4
                                                                 : (b_[o + 1] + 1u) * 8;
            if (next == 44) {
                f().net_fragment_offset = be16(b_, o + 2) >> 3;
            }
            f().extensions.push_back({next, static_cast<std::uint32_t>(size)});
            next = b_[o];
            o += size;
        }
        f().upper_protocol = next;
        transport(o);
    }

    void transport(std::size_t at) {
        f().transport_offset = static_cast<std::uint32_t>(at);
        const std::uint8_t protocol = f().upper_protocol;
        if (f().net_fragment_offset != 0 || (protocol != 6 && protocol != 17) ||
            at + 4 > b_.size()) {
            return;
        }
        f().net_has_ports = true;
        f().net_src_port = be16(b_, at);
        f().net_dst_port = be16(b_, at + 2);
        if (protocol == 17 && be16(b_, at + 4) != b_.size() - at) {
            fault("UDP length does not match the frame");
        }
        if (protocol == 6 && b_[at + 12] >> 4 != 5) {
            fault("TCP data offset is not 5");
        }
    }

    std::string text(int family, std::size_t at) const {
        char out[INET6_ADDRSTRLEN] = {};
        inet_ntop(family, b_.data() + at, out, sizeof out);
        return out;
    }

    int d_;
    std::span<const std::uint8_t> b_;
    std::size_t at_ = 0;
    std::size_t pppoe_length_at_ = 0;
    read_result r_;
};

// The later fields of a whole frame's fact, read from its bytes.
inline read_result read_layers(int datalink, std::span<const std::uint8_t> bytes) {
    return layer_reader(datalink, bytes).read();
}

}  // namespace tools_test
