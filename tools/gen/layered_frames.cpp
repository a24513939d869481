#include "layered_frames.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "address_pool.h"
#include "layer_builder.h"

namespace twgen {
namespace {

// Non-first fragments carry the middle of a datagram: a reader that takes
// it for a transport header finds ports (0xa5a5) rather than zeros.
constexpr std::uint8_t fragment_fill = 0xa5;

constexpr mac_address router_mac = {0x02, 0x00, 0x5e, 0x00, 0x00, 0xfe};
constexpr mac_address subscriber_mac = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x01};

std::size_t fill_to(std::size_t length, std::size_t headers) {
    return length > headers ? length - headers : 0;
}

void append(bytes& out, std::span<const std::uint8_t> tail) {
    out.insert(out.end(), tail.begin(), tail.end());
}

std::uint16_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

// The link header a plain reader knows, and the version its word names.
std::size_t plain_header_size(int datalink) {
    return datalink == dlt_en10mb ? 14 : datalink == dlt_ppp || datalink == dlt_null ? 4 : 0;
}

int plainly_named_version(int datalink, std::uint32_t word) {
    switch (datalink) {
    case dlt_en10mb: return word == ethertype_ipv4 ? 4 : word == ethertype_ipv6 ? 6 : 0;
    case dlt_ppp: return word == ppp_ipv4 ? 4 : word == ppp_ipv6 ? 6 : 0;
    case dlt_null: return word == 2 ? 4 : word == 28 ? 6 : 0;
    default: return 0;
    }
}

}  // namespace

bool is_known_link(int datalink) {
    switch (datalink) {
    case dlt_null:
    case dlt_en10mb:
    case dlt_ppp:
    case dlt_raw:
    case dlt_ppp_serial:
    case dlt_loop:
    case dlt_linux_sll:
    case dlt_ipv4:
    case dlt_ipv6:
    case dlt_linux_sll2: return true;
    default: return false;
    }
}

bool is_ppp_link(int datalink) { return datalink == dlt_ppp || datalink == dlt_ppp_serial; }
bool is_family_link(int datalink) { return datalink == dlt_null || datalink == dlt_loop; }
bool is_ethernet_like(int datalink) {
    return datalink == dlt_en10mb || datalink == dlt_linux_sll || datalink == dlt_linux_sll2;
}
bool is_raw_link(int datalink) {
    return datalink == dlt_raw || datalink == dlt_ipv4 || datalink == dlt_ipv6;
}

link_framing plain_framing(int datalink) {
    link_framing framing;
    framing.ipv6_family = datalink == dlt_loop ? 24 : 28;  // OpenBSD writes DLT_LOOP
    return framing;
}

link_framing draw_framing(int datalink, bool vary, std::uint16_t ppp_protocol,
                          random_source& random) {
    link_framing framing = plain_framing(datalink);
    if (!vary) {
        return framing;
    }
    if (is_ppp_link(datalink)) {
        const std::uint64_t choice = random.below(4);  // FF 03 or not, two bytes or one
        framing.address_control = choice < 2;
        framing.compressed = choice % 2 == 1 && ppp_protocol < 0x100 && ppp_protocol % 2 == 1;
    } else if (is_family_link(datalink)) {
        static constexpr std::array<std::uint32_t, 3> ipv6_families = {24, 28, 30};
        framing.swapped = random.coin();
        framing.ipv6_family = ipv6_families[random.below(ipv6_families.size())];
    }
    return framing;
}

link_framing settle_framing(int datalink, link_framing framing,
                            std::span<const std::uint8_t> packet) {
    // Behind a lone one-byte protocol, bytes 2-3 of the frame are bytes 1-2
    // of the packet; an IPv4 length of 0x21xx or 0x57xx would put a word
    // there that names IP to a reader of FF 03 frames, who would then take
    // the wrong bytes for a header. Such frames get a two-byte protocol.
    if (is_ppp_link(datalink) && !framing.address_control && framing.compressed &&
        packet.size() >= 3) {
        const std::uint16_t misread = be16(packet, 1);
        if (misread == ppp_ipv4 || misread == ppp_ipv6) {
            framing.compressed = false;
        }
    }
    return framing;
}

std::uint32_t ipv4_link_word(int datalink) {
    return is_ethernet_like(datalink) ? ethertype_ipv4
           : is_ppp_link(datalink)    ? ppp_ipv4
           : is_family_link(datalink) ? 2
                                      : 4;
}

std::uint32_t ipv6_link_word(int datalink, const link_framing& framing) {
    return is_ethernet_like(datalink) ? ethertype_ipv6
           : is_ppp_link(datalink)    ? ppp_ipv6
           : is_family_link(datalink) ? framing.ipv6_family
                                      : 6;
}

layer_fact link_layer(int datalink, const link_framing& framing, std::uint32_t word) {
    switch (datalink) {
    case dlt_en10mb: return {"eth", word, 14};
    case dlt_linux_sll: return {"sll", word, 16};
    case dlt_linux_sll2: return {"sll2", word, 20};
    case dlt_ppp:
    case dlt_ppp_serial:
        return {"ppp", word,
                (framing.address_control ? 2u : 0u) + (framing.compressed ? 1u : 2u)};
    case dlt_null: return {framing.swapped ? "null-swapped" : "null", word, 4};
    case dlt_loop: return {framing.swapped ? "loop-swapped" : "loop", word, 4};
    default: return {"raw", word, 0};
    }
}

bytes link_header(int datalink, const link_framing& framing, std::uint32_t word,
                  const mac_address& dst, const mac_address& src) {
    const auto type = static_cast<std::uint16_t>(word);
    switch (datalink) {
    case dlt_en10mb: {
        bytes out = mac_pair(dst, src);
        append(out, type_field(type));
        return out;
    }
    case dlt_linux_sll: return linux_cooked(type, src, false);
    case dlt_linux_sll2: return linux_cooked2(type, src, false, 2);
    case dlt_ppp:
    case dlt_ppp_serial: return ppp_header(type, framing.address_control, framing.compressed);
    case dlt_null: return family_word(word, false, framing.swapped);
    case dlt_loop: return family_word(word, true, framing.swapped);
    default: return {};
    }
}

std::vector<extension_fact> zero_chain(std::size_t length) {
    std::vector<extension_fact> chain;
    for (std::size_t at = 40; at + 2 <= length; at += 8) {
        chain.push_back({ip6_hop_by_hop, 8});
    }
    return chain;
}

void set_plain_reading(frame_fact& fact, std::span<const std::uint8_t> frame) {
    const int datalink = fact.datalink;
    std::uint32_t word = fact.layers.empty() ? 0 : fact.layers.front().value;
    if (datalink == dlt_en10mb && frame.size() >= 14) {
        word = be16(frame, 12);
    } else if (datalink == dlt_ppp) {
        word = frame.size() >= 4 ? be16(frame, 2) : 0;
    } else if (datalink == dlt_null && frame.size() >= 4) {
        std::memcpy(&word, frame.data(), 4);
    }
    const std::string kind = fact.kind;
    const std::uint32_t wire = fact.wire_length;
    const std::uint32_t captured = fact.captured_length;
    const frame_fact described = fact;
    fact = frame_fact{};
    fact.datalink = datalink;
    fact.kind = kind;
    fact.link_word = word;
    fact.header_words = 0;
    fact.wire_length = wire;
    fact.captured_length = captured;
    fact.layers = described.layers;
    fact.net_offset = described.net_offset;
    fact.seconds = described.seconds;
    fact.microseconds = described.microseconds;
    fact.net_word = described.net_word;
    fact.net_version = described.net_version;
    fact.net_src = described.net_src;
    fact.net_dst = described.net_dst;
    fact.extensions = described.extensions;
    fact.upper_protocol = described.upper_protocol;
    fact.net_fragment_offset = described.net_fragment_offset;
    fact.transport_offset = described.transport_offset;
    fact.net_has_ports = described.net_has_ports;
    fact.net_src_port = described.net_src_port;
    fact.net_dst_port = described.net_dst_port;

    const int version = plainly_named_version(datalink, word);
    if (version == 0 || version != described.net_version || described.layers.size() != 1 ||
        described.net_offset != plain_header_size(datalink)) {
        return;
    }
    fact.ip_version = version;
    if (version == 6) {
        fact.protocol = described.extensions.empty() ? described.upper_protocol
                                                     : described.extensions.front().type;
        return;
    }
    fact.protocol = described.upper_protocol;
    fact.src = ipv4_address(described.net_src.c_str());
    fact.dst = ipv4_address(described.net_dst.c_str());
    fact.header_words =
        static_cast<std::uint8_t>((described.transport_offset - described.net_offset) / 4);
    fact.fragment_offset = described.net_fragment_offset;
    fact.has_ports = described.net_has_ports;
    fact.src_port = described.net_src_port;
    fact.dst_port = described.net_dst_port;
}

struct layered_maker::built_packet {
    bytes data;
    int version = 0;
    std::string src;
    std::string dst;
    std::vector<extension_fact> extensions;
    std::uint8_t upper = 0;
    std::uint16_t fragment_offset = 0;
    std::size_t transport = 0;  // from the start of the packet
    bool has_ports = false;
    std::uint16_t src_port = 0;
    std::uint16_t dst_port = 0;
};

struct layered_maker::planned_layer {
    layer_fact fact;
    std::uint16_t detail = 0;  // tag control or PPPoE session
};

layered_maker::layered_maker(const mix_options& options, mix_draws& draws)
    : options_(options), draws_(draws) {
    const mix_weights& w = options.weights;
    packet_weights_ = {{packet_kind::ipv4_tcp, w.ipv4_tcp},
                       {packet_kind::ipv4_udp, w.ipv4_udp},
                       {packet_kind::ipv4_icmp, w.ipv4_icmp},
                       {packet_kind::ipv4_options, w.ipv4_options},
                       {packet_kind::ipv4_fragment, w.ipv4_fragment},
                       {packet_kind::ipv6, w.ipv6},
                       {packet_kind::ipv6_ext, w.ipv6_ext},
                       {packet_kind::other, w.arp}};
    for (const auto& [kind, weight] : packet_weights_) {
        packet_weight_total_ += weight;
    }
    if (packet_weight_total_ == 0) {
        for (auto& [kind, weight] : packet_weights_) {
            weight = 1;
        }
        packet_weight_total_ = packet_weights_.size();
    }
}

layered_maker::packet_kind layered_maker::draw_packet_kind() {
    std::uint64_t ticket = draws_.numbers().below(packet_weight_total_);
    for (const auto& [kind, weight] : packet_weights_) {
        if (ticket < weight) {
            return kind;
        }
        ticket -= weight;
    }
    return packet_weights_.back().first;
}

layered_maker::built_packet layered_maker::make_packet(packet_kind kind, std::size_t length) {
    if (kind == packet_kind::ipv6 || kind == packet_kind::ipv6_ext) {
        return ipv6_packet(kind == packet_kind::ipv6_ext, length);
    }
    return ipv4_packet(kind, length);
}

layered_maker::built_packet layered_maker::ipv4_packet(packet_kind kind, std::size_t length) {
    random_source& random = draws_.numbers();
    const auto [src, dst] = draws_.ipv4_pair();
    built_packet p;
    p.version = 4;
    p.src = ipv4_text(src);
    p.dst = ipv4_text(dst);
    ipv4_options ip;
    bytes transport;
    switch (kind) {
    case packet_kind::ipv4_icmp:
        p.upper = ip_icmp;
        transport = icmp_echo(fill_to(length, 20 + 8));
        break;
    case packet_kind::ipv4_fragment:
        p.upper = random.coin() ? ip_tcp : ip_udp;
        ip.fragment_offset = static_cast<std::uint16_t>(random.between(1, 1000));
        ip.more_fragments = random.coin();
        transport = filler(fill_to(length, 20), fragment_fill);
        break;
    default: {
        if (kind == packet_kind::ipv4_options) {
            ip.header_words = static_cast<std::uint8_t>(random.between(6, 15));
        }
        const bool is_udp = kind == packet_kind::ipv4_udp;
        const std::size_t headers = ip.header_words * 4u;
        p.upper = is_udp ? ip_udp : ip_tcp;
        p.has_ports = true;
        p.src_port = draws_.port();
        p.dst_port = draws_.port();
        transport = is_udp ? udp(p.src_port, p.dst_port, fill_to(length, headers + 8))
                           : tcp(p.src_port, p.dst_port, fill_to(length, headers + 20));
        break;
    }
    }
    p.fragment_offset = ip.fragment_offset;
    p.transport = ip.header_words * 4u;
    p.data = ipv4(src, dst, p.upper, transport, ip);
    return p;
}

layered_maker::built_packet layered_maker::ipv6_packet(bool chained, std::size_t length) {
    random_source& random = draws_.numbers();
    const auto [src, dst] = draws_.ipv6_pair();
    built_packet p;
    p.version = 6;
    p.src = ipv6_text(src);
    p.dst = ipv6_text(dst);
    auto options_size = [&random] { return static_cast<std::uint32_t>(8 * random.between(1, 4)); };
    bool more_fragments = false;
    if (chained) {
        if (random.below(3) == 0) {
            p.extensions.push_back({ip6_hop_by_hop, options_size()});
        }
        static constexpr std::array<std::uint8_t, 3> middle = {ip6_routing, ip6_destination,
                                                               ip6_authentication};
        for (std::uint64_t n = random.below(3); n > 0; --n) {
            const std::uint8_t type = middle[random.below(middle.size())];
            p.extensions.push_back({type, type == ip6_authentication
                                              ? (random.coin() ? 24u : 32u)
                                              : options_size()});
        }
        if (random.below(3) == 0) {
            p.fragment_offset =
                random.coin() ? 0 : static_cast<std::uint16_t>(random.between(1, 8000));
            more_fragments = random.coin();
            p.extensions.push_back({ip6_fragment, 8});
            // Headers behind a Fragment header travel in the first fragment only.
            if (p.fragment_offset == 0 && random.below(4) == 0) {
                p.extensions.push_back({ip6_destination, options_size()});
            }
        }
        if (p.extensions.empty()) {
            p.extensions.push_back({ip6_destination, options_size()});
        }
    }
    // Mobility, HIP, Shim6, SCTP and "no next header" end a chain as well.
    static constexpr std::array<std::uint8_t, 5> other_uppers = {135, 139, 140, 132, 59};
    const std::uint64_t draw = random.below(20);
    p.upper = draw < 9 ? ip_tcp : draw < 16 ? ip_udp : draw < 18 ? ip6_icmp
                                                      : other_uppers[random.below(5)];
    bytes payload;
    std::size_t chain = 0;
    for (std::size_t i = 0; i < p.extensions.size(); ++i) {
        const extension_fact& e = p.extensions[i];
        const std::uint8_t next = i + 1 < p.extensions.size() ? p.extensions[i + 1].type : p.upper;
        append(payload, ipv6_extension(e.type, next, e.size, p.fragment_offset, more_fragments));
        chain += e.size;
    }
    p.transport = 40 + chain;
    const std::size_t headers = 40 + chain;
    if (p.fragment_offset != 0) {
        append(payload, filler(fill_to(length, headers), fragment_fill));
    } else if (p.upper == ip_tcp || p.upper == ip_udp) {
        p.has_ports = true;
        p.src_port = draws_.port();
        p.dst_port = draws_.port();
        append(payload, p.upper == ip_udp
                            ? udp(p.src_port, p.dst_port, fill_to(length, headers + 8))
                            : tcp(p.src_port, p.dst_port, fill_to(length, headers + 20)));
    } else if (p.upper == ip6_icmp) {
        payload.insert(payload.end(), {128, 0, 0, 0, 0, 1, 0, 1});  // echo request
        append(payload, filler(fill_to(length, headers + 8)));
    } else {
        append(payload, filler(fill_to(length, headers)));
    }
    const std::uint8_t first = p.extensions.empty() ? p.upper : p.extensions.front().type;
    p.data = ipv6(src, dst, first, payload);
    return p;
}

std::vector<std::uint32_t> layered_maker::mpls_stack() {
    random_source& random = draws_.numbers();
    std::vector<std::uint32_t> entries(random.between(1, 3));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // Labels from 0x10000 up: the top half of an entry never reads as a
        // PPP protocol that names IP.
        const auto label = static_cast<std::uint32_t>(random.between(0x10000, 0xfffff));
        entries[i] = mpls_entry_value(label, i + 1 == entries.size(),
                                      static_cast<std::uint8_t>(64 - i));
    }
    return entries;
}

bytes layered_maker::make(layered_kind kind, std::uint32_t wire, frame_fact& fact) {
    random_source& random = draws_.numbers();
    const int datalink = options_.datalink;
    const packet_kind packet =
        kind == layered_kind::ipv6_ext ? packet_kind::ipv6_ext : draw_packet_kind();
    const bool is_ipv6 = packet == packet_kind::ipv6 || packet == packet_kind::ipv6_ext;
    const bool is_ip = packet != packet_kind::other;
    const std::uint16_t packet_type = !is_ip ? ethertype_arp
                                      : is_ipv6 ? ethertype_ipv6
                                                : ethertype_ipv4;
    const std::uint16_t packet_ppp = !is_ip ? ppp_lcp : is_ipv6 ? ppp_ipv6 : ppp_ipv4;

    link_framing framing = plain_framing(datalink);
    std::vector<planned_layer> plan;
    auto add_link = [&](std::uint32_t word) {
        plan.push_back({link_layer(datalink, framing, word), 0});
    };
    auto add_tag = [&](std::uint16_t next) {
        const auto priority = static_cast<std::uint16_t>(random.below(8) << 13);
        const auto vlan = static_cast<std::uint16_t>(random.between(1, 4094));
        plan.push_back({{"tag", next, 4}, static_cast<std::uint16_t>(priority | vlan)});
    };
    auto add_mpls = [&] {
        for (const std::uint32_t entry : mpls_stack()) {
            plan.push_back({{"mpls", entry, 4}, 0});
        }
    };
    switch (kind) {
    case layered_kind::ipv6_ext:
        fact.kind = "ipv6-ext";
        framing = draw_framing(datalink, options_.vary_framing, ppp_ipv6, random);
        add_link(ipv6_link_word(datalink, framing));
        break;
    case layered_kind::dot1q:
        fact.kind = "dot1q";
        add_link(ethertype_vlan);
        add_tag(packet_type);
        break;
    case layered_kind::qinq: {
        fact.kind = "qinq";
        static constexpr std::array<std::uint16_t, 3> outer = {ethertype_qinq, ethertype_qinq_old,
                                                               ethertype_vlan};
        add_link(outer[random.below(outer.size())]);
        add_tag(ethertype_vlan);
        add_tag(packet_type);
        break;
    }
    case layered_kind::pppoe: {
        fact.kind = "pppoe";
        const bool tagged = random.below(4) == 0;
        const bool over_mpls = random.below(6) == 0;
        add_link(tagged ? ethertype_vlan : ethertype_pppoe_session);
        if (tagged) {
            add_tag(ethertype_pppoe_session);
        }
        const auto session = static_cast<std::uint16_t>(random.between(1, 0xfffe));
        plan.push_back({{"pppoe", over_mpls ? ppp_mpls : packet_ppp, 8}, session});
        if (over_mpls) {
            add_mpls();
        }
        break;
    }
    case layered_kind::mpls:
        fact.kind = "mpls";
        if (is_ppp_link(datalink)) {
            const std::uint16_t protocol = random.below(4) == 0 ? ppp_mpls_multicast : ppp_mpls;
            framing = draw_framing(datalink, options_.vary_framing, protocol, random);
            add_link(protocol);
        } else {
            const bool tagged = random.below(4) == 0;
            const std::uint16_t type =
                random.below(4) == 0 ? ethertype_mpls_multicast : ethertype_mpls;
            add_link(tagged ? ethertype_vlan : type);
            if (tagged) {
                add_tag(type);
            }
        }
        add_mpls();
        break;
    }

    std::size_t headers = 0;
    for (const planned_layer& layer : plan) {
        headers += layer.fact.size;
    }
    const bool after_mpls = plan.back().fact.name == "mpls";
    built_packet inner;
    if (is_ip) {
        inner = make_packet(packet, fill_to(wire, headers));
    } else if (after_mpls) {
        // An Ethernet pseudowire: a zero control word, then the frame.
        inner.data = bytes(4, 0);
        append(inner.data, mac_pair(router_mac, subscriber_mac));
        append(inner.data, type_field(ethertype_arp));
        const auto [src, dst] = draws_.ipv4_pair();
        append(inner.data, arp(1, src, dst));
    } else if (plan.back().fact.name == "pppoe") {
        inner.data = ppp_control(9, static_cast<std::uint8_t>(random.below(256)), 4);  // echo
    } else {
        const auto [src, dst] = draws_.ipv4_pair();
        inner.data = arp(1, src, dst);
    }
    if (plan.front().fact.name == "ppp") {
        const link_framing settled = settle_framing(datalink, framing, inner.data);
        if (!(settled == framing)) {
            framing = settled;
            plan.front().fact = link_layer(datalink, framing, plan.front().fact.value);
            headers = 0;
            for (const planned_layer& layer : plan) {
                headers += layer.fact.size;
            }
        }
    }

    bytes out;
    out.reserve(std::max<std::size_t>(wire, headers + inner.data.size()));
    std::size_t behind = headers + inner.data.size();
    for (const planned_layer& layer : plan) {
        behind -= layer.fact.size;
        const std::string& name = layer.fact.name;
        if (name == "tag") {
            append(out, vlan_tag(layer.detail, static_cast<std::uint16_t>(layer.fact.value)));
        } else if (name == "pppoe") {
            append(out, pppoe_session(layer.detail, static_cast<std::uint16_t>(layer.fact.value),
                                      behind + 2));
        } else if (name == "mpls") {
            append(out, mpls_entry(layer.fact.value));
        } else {
            append(out, link_header(datalink, framing, layer.fact.value, router_mac,
                                    subscriber_mac));
        }
    }
    append(out, inner.data);
    if (!is_ip) {
        out.resize(std::max<std::size_t>(out.size(), wire), 0);
    }

    for (const planned_layer& layer : plan) {
        fact.layers.push_back(layer.fact);
    }
    fact.net_offset = static_cast<std::uint32_t>(headers);
    fact.net_word = after_mpls ? static_cast<std::uint32_t>(inner.data.front() >> 4)
                               : plan.back().fact.value;
    fact.net_version = inner.version;
    fact.net_src = inner.src;
    fact.net_dst = inner.dst;
    fact.extensions = inner.extensions;
    fact.upper_protocol = inner.upper;
    fact.net_fragment_offset = inner.fragment_offset;
    fact.transport_offset = is_ip ? static_cast<std::uint32_t>(headers + inner.transport) : 0;
    fact.net_has_ports = inner.has_ports;
    fact.net_src_port = inner.src_port;
    fact.net_dst_port = inner.dst_port;
    return out;
}

}  // namespace twgen
