#pragma once

// Reads a generated frame back into the fact it should have, straight from
// its bytes and without any of the generator's code, and checks the length
// fields and the IPv4 checksum on the way. The frame must be captured at
// least as far as its transport header.

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

}  // namespace tools_test
