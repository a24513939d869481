#include "traffic_mix.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "address_pool.h"
#include "frame_builder.h"
#include "layer_builder.h"
#include "layered_frames.h"
#include "random_source.h"

namespace twgen {
namespace {

constexpr std::uint32_t largest_snap_length = 262144;  // libpcap refuses larger files
constexpr std::uint32_t largest_wire_length = 65535;   // IPv4 total length is 16 bits
constexpr std::uint32_t largest_host_count = 1000000;
constexpr std::uint32_t largest_8023_frame = 1514;     // the length field must stay <= 1500

// Every header stack the mix makes ends within this many bytes, so cuts
// below it land inside headers or just behind them.
constexpr std::uint32_t largest_cut = 128;


// Non-first fragments carry the middle of a datagram. Filling it with a
// non-zero pattern means a reader that takes it for a TCP or UDP header
// finds ports (0xa5a5) rather than zeros it would skip anyway.
constexpr std::uint8_t fragment_fill = 0xa5;

// Popular services first: popularity follows rank, so these lead the
// Port table of every mix.
constexpr std::array<std::uint16_t, 20> well_known_ports = {
    80, 443, 53, 22, 25, 123, 110, 143, 993, 995, 21, 23, 161, 389, 445, 587, 3306, 5432,
    8080, 3389};

enum class frame_kind {
    ipv4_tcp,
    ipv4_udp,
    ipv4_icmp,
    ipv4_options,
    ipv4_fragment,
    ipv6,
    arp,
    revarp,
    ipx,
    appletalk,
    aarp,
    vlan,
    ieee8023,
    link_other,
    ipv6_ext,
    dot1q,
    qinq,
    pppoe,
    mpls,
};

struct weighted_kind {
    frame_kind kind;
    unsigned weight;
};

// The kinds in a fixed order, which the draws depend on: kinds added later
// go at the end, so that mixes without them stay what they were.
std::vector<weighted_kind> kinds_for_link(int datalink, const mix_weights& w) {
    std::vector<weighted_kind> kinds = {
        {frame_kind::ipv4_tcp, w.ipv4_tcp},         {frame_kind::ipv4_udp, w.ipv4_udp},
        {frame_kind::ipv4_icmp, w.ipv4_icmp},       {frame_kind::ipv4_options, w.ipv4_options},
        {frame_kind::ipv4_fragment, w.ipv4_fragment}, {frame_kind::ipv6, w.ipv6},
    };
    if (datalink == dlt_ipv4) {
        kinds.pop_back();
    } else if (datalink == dlt_ipv6) {
        kinds.erase(kinds.begin(), kinds.end() - 1);
    }
    if (is_ethernet_like(datalink)) {
        kinds.insert(kinds.end(), {{frame_kind::arp, w.arp},
                                   {frame_kind::revarp, w.revarp},
                                   {frame_kind::ipx, w.ipx},
                                   {frame_kind::appletalk, w.appletalk},
                                   {frame_kind::aarp, w.aarp},
                                   {frame_kind::vlan, w.vlan},
                                   {frame_kind::ieee8023, w.ieee8023}});
    } else if (datalink != dlt_ipv4 && datalink != dlt_ipv6) {
        kinds.push_back({frame_kind::link_other, w.link_other});
    }
    if (datalink != dlt_ipv4) {
        kinds.push_back({frame_kind::ipv6_ext, w.ipv6_ext});
    }
    if (is_ethernet_like(datalink)) {
        kinds.insert(kinds.end(), {{frame_kind::dot1q, w.dot1q},
                                   {frame_kind::qinq, w.qinq},
                                   {frame_kind::pppoe, w.pppoe}});
    }
    if (is_ethernet_like(datalink) || is_ppp_link(datalink)) {
        kinds.push_back({frame_kind::mpls, w.mpls});
    }
    std::erase_if(kinds, [](const weighted_kind& k) { return k.weight == 0; });
    return kinds;
}

// Item k of n is drawn with a weight of 1 / (k + 1)^skew.
class zipf_sampler {
public:
    zipf_sampler(std::size_t n, double skew) : cumulative_(n) {
        double sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            sum += std::pow(static_cast<double>(k + 1), -skew);
            cumulative_[k] = sum;
        }
    }

    std::size_t draw(random_source& random) const {
        const double target = random.unit() * cumulative_.back();
        const auto found = std::upper_bound(cumulative_.begin(), cumulative_.end(), target);
        const auto index = static_cast<std::size_t>(found - cumulative_.begin());
        return std::min(index, cumulative_.size() - 1);  // rounding at the very top
    }

private:
    std::vector<double> cumulative_;
};

// Distinct addresses over class A, B and C networks: a few hosts to a
// network in small mixes, about 16 in large ones, so that the Network table
// always has rows of varied size and a class C network never runs full.
std::vector<std::uint32_t> make_hosts(std::uint32_t count, random_source& random) {
    const auto per_class = std::max(
        static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(count)) / 2)),
        count / 48);
    struct network {
        std::uint32_t number;
        int host_bits;
    };
    std::vector<network> networks;
    std::unordered_set<std::uint32_t> seen;
    auto add_networks = [&](std::uint32_t wanted, int host_bits, std::uint32_t low,
                            std::uint32_t high) {
        for (std::uint32_t made = 0; made < wanted;) {
            const auto number = static_cast<std::uint32_t>(random.between(low, high));
            if (seen.insert(number).second) {
                networks.push_back({number, host_bits});
                ++made;
            }
        }
    };
    add_networks(std::min<std::uint32_t>(per_class, 100), 24, 1, 126);  // 127 is loopback
    add_networks(std::min<std::uint32_t>(per_class, 16000), 16, 0x8000, 0xbfff);
    add_networks(per_class, 8, 0xc00000, 0xdfffff);

    std::vector<std::uint32_t> hosts;
    hosts.reserve(count);
    seen.clear();
    while (hosts.size() < count) {
        const network& net = networks[random.below(networks.size())];
        // Host parts of all zeros or all ones are network and broadcast
        // addresses, not hosts.
        const std::uint64_t part = random.between(1, (std::uint64_t{1} << net.host_bits) - 2);
        const auto address = static_cast<std::uint32_t>(net.number << net.host_bits | part);
        if (seen.insert(address).second) {
            hosts.push_back(address);
        }
    }
    return hosts;
}

std::vector<std::uint16_t> make_ports(std::uint32_t count, random_source& random) {
    std::vector<std::uint16_t> ports;
    std::unordered_set<std::uint16_t> seen;
    for (std::uint16_t port : well_known_ports) {
        if (ports.size() == count) {
            return ports;
        }
        ports.push_back(port);
        seen.insert(port);
    }
    while (ports.size() < count) {
        const auto port = static_cast<std::uint16_t>(random.between(1, 65535));
        if (seen.insert(port).second) {
            ports.push_back(port);
        }
    }
    return ports;
}

mac_address mac_of(std::uint32_t address) {
    const auto a = ipv4_bytes(address);
    return {0x02, 0x00, a[0], a[1], a[2], a[3]};
}

// 2001:db8::a.b.c.d, so an IPv6 host is recognisably its IPv4 twin.
ipv6_address ipv6_of(std::uint32_t address) {
    ipv6_address out{0x20, 0x01, 0x0d, 0xb8};
    const auto a = ipv4_bytes(address);
    std::copy(a.begin(), a.end(), out.end() - 4);
    return out;
}

layered_kind layered_kind_of(frame_kind kind) {
    switch (kind) {
    case frame_kind::dot1q: return layered_kind::dot1q;
    case frame_kind::qinq: return layered_kind::qinq;
    case frame_kind::pppoe: return layered_kind::pppoe;
    case frame_kind::mpls: return layered_kind::mpls;
    default: return layered_kind::ipv6_ext;
    }
}

constexpr mac_address broadcast_mac = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

void check_options(const mix_options& o) {
    if (!is_known_link(o.datalink)) {
        throw std::invalid_argument(
            "data-link type must be 0 (null), 1 (Ethernet), 9 (PPP), 12 (raw IP), 50 (PPP "
            "serial), 108 (loop), 113 (Linux cooked), 228 (IPv4), 229 (IPv6) or 276 (Linux "
            "cooked v2)");
    }
    if (o.snap_length == 0 || o.snap_length > largest_snap_length) {
        throw std::invalid_argument("snap length must be 1 to 262144");
    }
    if (o.hosts == 0 || o.hosts > largest_host_count) {
        throw std::invalid_argument("host count must be 1 to 1000000");
    }
    if (o.ipv6_hosts > largest_host_count) {
        throw std::invalid_argument("IPv6 host count must be 0 to 1000000");
    }
    if (o.ports == 0 || o.ports > 65535) {
        throw std::invalid_argument("port count must be 1 to 65535");
    }
    if (!(o.skew >= 0 && o.skew <= 100)) {
        throw std::invalid_argument("skew must be 0 to 100");
    }
    if (o.min_length > o.max_length || o.max_length > largest_wire_length) {
        throw std::invalid_argument("wire lengths must satisfy min <= max <= 65535");
    }
    if (o.rate == 0 || o.rate > 1'000'000) {
        throw std::invalid_argument("rate must be 1 to 1000000 frames per second");
    }
    // Stamps a pcap file can hold: 32-bit unsigned seconds.
    if (o.start_seconds < 0 || o.start_seconds > 4'000'000'000 || o.pause_microseconds < 0) {
        throw std::invalid_argument("start must be 0 to 4000000000 seconds, pauses at least 0");
    }
}

}  // namespace

struct mix_generator::state final : mix_draws {
    mix_options options;
    random_source random;
    std::vector<weighted_kind> kinds;
    std::uint64_t total_weight = 0;
    std::vector<std::uint32_t> hosts;
    std::vector<std::uint16_t> ports;
    zipf_sampler host_popularity;
    zipf_sampler port_popularity;
    std::uint64_t made = 0;
    std::int64_t clock_us = 0;
    link_framing framing;  // of the frame being made
    // Made when a frame first needs them, from a source of their own, so
    // that mixes without them draw what they always drew.
    std::vector<ipv6_address> ipv6_hosts;
    std::optional<zipf_sampler> ipv6_popularity;
    layered_maker layered;
    // Cuts come from a source of their own, so that a cut mix holds the
    // same frames as the whole one.
    random_source cuts;

    explicit state(const mix_options& o)
        : options(o),
          random(o.seed),
          kinds(kinds_for_link(o.datalink, o.weights)),
          hosts(make_hosts(o.hosts, random)),
          ports(make_ports(o.ports, random)),
          host_popularity(hosts.size(), o.skew),
          port_popularity(ports.size(), o.skew),
          framing(plain_framing(o.datalink)),
          layered(options, *this),
          cuts(std::uint64_t{o.seed} << 32 | 0xc) {
        for (const weighted_kind& k : kinds) {
            total_weight += k.weight;
        }
        if (total_weight == 0) {
            throw std::invalid_argument("every kind of frame this link can carry has weight 0");
        }
    }

    frame_kind draw_kind() {
        std::uint64_t ticket = random.below(total_weight);
        for (const weighted_kind& k : kinds) {
            if (ticket < k.weight) {
                return k.kind;
            }
            ticket -= k.weight;
        }
        return kinds.back().kind;  // not reached: the tickets cover the weights
    }

    std::uint16_t draw_port() { return ports[port_popularity.draw(random)]; }

    // mix_draws
    random_source& numbers() override { return random; }
    std::pair<std::uint32_t, std::uint32_t> ipv4_pair() override { return draw_pair(); }
    std::uint16_t port() override { return draw_port(); }

    // Now and then the source is the unspecified address, as in duplicate
    // address detection.
    std::pair<ipv6_address, ipv6_address> ipv6_pair() override {
        if (ipv6_hosts.empty()) {
            random_source own(std::uint64_t{options.seed} << 32 | 6);
            ipv6_hosts = make_ipv6_hosts(
                options.ipv6_hosts != 0 ? options.ipv6_hosts : options.hosts, own);
            ipv6_popularity.emplace(ipv6_hosts.size(), options.skew);
        }
        const std::size_t src = ipv6_popularity->draw(random);
        std::size_t dst = ipv6_popularity->draw(random);
        if (dst == src) {
            dst = (dst + 1) % ipv6_hosts.size();
        }
        ipv6_address from = ipv6_hosts[src];
        if (random.below(64) == 0) {
            from = {};
        }
        return {from, ipv6_hosts[dst]};
    }

    // A conversation between two hosts; a host talks to itself only when it
    // is the only one.
    std::pair<std::uint32_t, std::uint32_t> draw_pair() {
        const std::size_t src = host_popularity.draw(random);
        std::size_t dst = host_popularity.draw(random);
        if (dst == src) {
            dst = (dst + 1) % hosts.size();
        }
        return {hosts[src], hosts[dst]};
    }

    std::size_t link_header_length() const {
        return link_layer(options.datalink, framing, 0).size;
    }

    bool plain_link() const {
        const int d = options.datalink;
        return (d == dlt_en10mb || d == dlt_ppp || d == dlt_null) &&
               framing == plain_framing(d);
    }

    // Puts the link header of this capture in front of a network packet.
    bytes link(std::uint32_t src, std::uint32_t dst, std::uint32_t link_word,
               std::span<const std::uint8_t> packet) {
        framing = settle_framing(options.datalink, framing, packet);
        if (!plain_link()) {
            bytes out = link_header(options.datalink, framing, link_word, mac_of(dst), mac_of(src));
            out.insert(out.end(), packet.begin(), packet.end());
            return out;
        }
        switch (options.datalink) {
        case dlt_en10mb:
            return ethernet(mac_of(dst), mac_of(src), static_cast<std::uint16_t>(link_word),
                            packet);
        case dlt_ppp:
            return ppp(static_cast<std::uint16_t>(link_word), packet);
        default:
            return null_link(link_word, packet);
        }
    }

    std::uint32_t ipv4_word() const { return ipv4_link_word(options.datalink); }
    std::uint32_t ipv6_word() const { return ipv6_link_word(options.datalink, framing); }

    // The later fields of the fact of a frame with one link header, from the
    // earlier ones; what those leave open comes as arguments.
    void describe_behind_link(frame_fact& fact, std::string src, std::string dst,
                              std::uint32_t transport_length, bool ports,
                              std::uint16_t src_port, std::uint16_t dst_port) const {
        fact.layers = {link_layer(options.datalink, framing, fact.link_word)};
        fact.net_offset = fact.layers.front().size;
        fact.net_word = fact.link_word;
        fact.net_version = fact.ip_version;
        fact.net_src = std::move(src);
        fact.net_dst = std::move(dst);
        fact.upper_protocol = fact.protocol;
        fact.net_fragment_offset = fact.fragment_offset;
        fact.transport_offset = fact.net_offset + transport_length;
        fact.net_has_ports = ports;
        fact.net_src_port = src_port;
        fact.net_dst_port = dst_port;
    }

    // The fields a plain reader sees, for frames it does not know.
    void settle_plain_reading(frame_fact& fact, std::span<const std::uint8_t> frame) const {
        if (!plain_link()) {
            set_plain_reading(fact, frame);
        }
    }

    // Payload that brings a frame of `headers` bytes up to `wire` bytes.
    static std::size_t fill_to(std::uint32_t wire, std::size_t headers) {
        return wire > headers ? wire - headers : 0;
    }

    bytes make_ipv4(frame_kind kind, std::uint32_t wire, frame_fact& fact) {
        const auto [src, dst] = draw_pair();
        ipv4_options ip;
        fact.ip_version = 4;
        fact.src = src;
        fact.dst = dst;
        std::size_t headers = link_header_length();
        bytes transport;
        switch (kind) {
        case frame_kind::ipv4_icmp:
            fact.kind = "ipv4-icmp";
            fact.protocol = ip_icmp;
            transport = icmp_echo(fill_to(wire, headers + 20 + 8));
            break;
        case frame_kind::ipv4_fragment: {
            fact.kind = "ipv4-fragment";
            fact.protocol = random.coin() ? ip_tcp : ip_udp;
            ip.fragment_offset = static_cast<std::uint16_t>(random.between(1, 1000));
            ip.more_fragments = random.coin();
            transport = filler(fill_to(wire, headers + 20), fragment_fill);
            break;
        }
        default: {
            const bool is_udp = kind == frame_kind::ipv4_udp;
            fact.kind = kind == frame_kind::ipv4_tcp   ? "ipv4-tcp"
                        : kind == frame_kind::ipv4_udp ? "ipv4-udp"
                                                       : "ipv4-options";
            fact.protocol = is_udp ? ip_udp : ip_tcp;
            if (kind == frame_kind::ipv4_options) {
                ip.header_words = static_cast<std::uint8_t>(random.between(6, 15));
            }
            fact.has_ports = true;
            fact.src_port = draw_port();
            fact.dst_port = draw_port();
            headers += ip.header_words * 4u;
            transport = is_udp ? udp(fact.src_port, fact.dst_port, fill_to(wire, headers + 8))
                               : tcp(fact.src_port, fact.dst_port, fill_to(wire, headers + 20));
            break;
        }
        }
        fact.header_words = ip.header_words;
        fact.fragment_offset = ip.fragment_offset;
        fact.link_word = ipv4_word();
        bytes out = link(src, dst, fact.link_word, ipv4(src, dst, fact.protocol, transport, ip));
        describe_behind_link(fact, ipv4_text(src), ipv4_text(dst), ip.header_words * 4u,
                             fact.has_ports, fact.src_port, fact.dst_port);
        settle_plain_reading(fact, out);
        return out;
    }

    bytes make_ipv6(std::uint32_t wire, frame_fact& fact) {
        const auto [src, dst] = draw_pair();
        const bool is_udp = random.coin();
        const std::uint16_t src_port = draw_port();
        const std::uint16_t dst_port = draw_port();
        const std::size_t headers = link_header_length() + 40;
        fact.kind = is_udp ? "ipv6-udp" : "ipv6-tcp";
        fact.ip_version = 6;
        fact.protocol = is_udp ? ip_udp : ip_tcp;
        fact.link_word = ipv6_word();
        const bytes transport = is_udp ? udp(src_port, dst_port, fill_to(wire, headers + 8))
                                       : tcp(src_port, dst_port, fill_to(wire, headers + 20));
        bytes out = link(src, dst, fact.link_word,
                         twgen::ipv6(ipv6_of(src), ipv6_of(dst), fact.protocol, transport));
        describe_behind_link(fact, ipv6_text(ipv6_of(src)), ipv6_text(ipv6_of(dst)), 40, true,
                             src_port, dst_port);
        settle_plain_reading(fact, out);
        return out;
    }

    // An Ethernet frame, or on Linux cooked links the same packet behind a
    // cooked header.
    bytes ether_like(const mac_address& dst, const mac_address& src, std::uint16_t type,
                     std::span<const std::uint8_t> payload) const {
        if (options.datalink == dlt_en10mb) {
            return ethernet(dst, src, type, payload);
        }
        bytes out = link_header(options.datalink, framing, type, dst, src);
        out.insert(out.end(), payload.begin(), payload.end());
        return out;
    }

    // Frames whose network layer is not IP: built at their natural size,
    // then padded with zeros to the wire length.
    bytes make_other(frame_kind kind, std::uint32_t wire, frame_fact& fact) {
        const auto [src, dst] = draw_pair();
        bytes out;
        switch (kind) {
        case frame_kind::arp:
            fact.kind = "arp";
            fact.link_word = ethertype_arp;
            out = ether_like(broadcast_mac, mac_of(src), ethertype_arp,
                           twgen::arp(random.coin() ? 1 : 2, src, dst));
            break;
        case frame_kind::revarp:
            fact.kind = "revarp";
            fact.link_word = ethertype_revarp;
            out = ether_like(broadcast_mac, mac_of(src), ethertype_revarp, twgen::arp(3, src, 0));
            break;
        case frame_kind::ipx:
            fact.kind = "ipx";
            fact.link_word = ethertype_ipx;
            out = ether_like(broadcast_mac, mac_of(src), ethertype_ipx, twgen::ipx(src, dst));
            break;
        case frame_kind::appletalk:
            fact.kind = "appletalk";
            fact.link_word = ethertype_appletalk;
            out = ether_like(broadcast_mac, mac_of(src), ethertype_appletalk,
                           appletalk_ddp(static_cast<std::uint16_t>(src),
                                         static_cast<std::uint16_t>(dst)));
            break;
        case frame_kind::aarp:
            fact.kind = "aarp";
            fact.link_word = ethertype_aarp;
            out = ether_like(broadcast_mac, mac_of(src), ethertype_aarp, twgen::aarp(1, src, dst));
            break;
        case frame_kind::vlan: {
            fact.kind = "vlan";
            fact.link_word = ethertype_vlan;
            const std::size_t headers = link_header_length() + 4 + 20 + 8;
            const bytes inner =
                ipv4(src, dst, ip_udp, udp(draw_port(), draw_port(), fill_to(wire, headers)));
            const auto vlan_id = static_cast<std::uint16_t>(random.between(1, 4094));
            if (options.datalink == dlt_en10mb) {
                out = ethernet_vlan(mac_of(dst), mac_of(src), vlan_id, ethertype_ipv4, inner);
            } else {
                bytes tagged = vlan_tag(vlan_id, ethertype_ipv4);
                tagged.insert(tagged.end(), inner.begin(), inner.end());
                out = ether_like(mac_of(dst), mac_of(src), ethertype_vlan, tagged);
            }
            // The ports were drawn in whatever order the compiler chose:
            // read them back rather than draw them again.
            describe_behind_link(fact, ipv4_text(src), ipv4_text(dst), 20, true,
                                 static_cast<std::uint16_t>(inner[20] << 8 | inner[21]),
                                 static_cast<std::uint16_t>(inner[22] << 8 | inner[23]));
            fact.layers.push_back({"tag", ethertype_ipv4, 4});
            fact.net_offset += 4;
            fact.transport_offset += 4;
            fact.net_word = ethertype_ipv4;
            fact.net_version = 4;
            fact.upper_protocol = ip_udp;
            break;
        }
        case frame_kind::ieee8023: {
            fact.kind = "ieee8023";
            wire = std::min(wire, largest_8023_frame);
            if (options.datalink == dlt_en10mb) {
                out = ethernet_8023(broadcast_mac, mac_of(src), filler(fill_to(wire, 14 + 3)));
                fact.link_word = static_cast<std::uint32_t>(out[12] << 8 | out[13]);
            } else {
                bytes llc = {0x42, 0x42, 0x03};  // spanning tree, as on Ethernet
                llc.resize(std::max<std::size_t>(3, fill_to(wire, link_header_length())), 0);
                out = ether_like(broadcast_mac, mac_of(src), ethertype_8022, llc);
                fact.link_word = ethertype_8022;
            }
            break;
        }
        default:
            out = make_link_other(fact);
            break;
        }
        out.resize(std::max<std::size_t>(out.size(), wire), 0);
        if (fact.layers.empty()) {
            describe_behind_link(fact, "", "", 0, false, 0, 0);
            fact.transport_offset = 0;
        }
        if (fact.kind == "null-other") {
            // Zeros behind a family word that names IPv6 on some systems.
            fact.net_version = 6;
            fact.net_src = fact.net_dst = "::";
            fact.extensions = zero_chain(out.size() - fact.net_offset);
            fact.transport_offset =
                fact.net_offset + 40 + 8 * static_cast<std::uint32_t>(fact.extensions.size());
        }
        settle_plain_reading(fact, out);
        return out;
    }

    bytes make_link_other(frame_fact& fact) {
        if (options.datalink == dlt_loop) {
            // Families that are neither IPv4 nor IPv6 on any system.
            static constexpr std::array<std::uint32_t, 3> families = {1, 16, 17};
            fact.kind = "loop-other";
            fact.link_word = families[random.below(families.size())];
            return family_word(fact.link_word, true, false);
        }
        if (options.datalink == dlt_raw) {
            // A packet whose version nibble is neither 4 nor 6.
            static constexpr std::array<std::uint8_t, 4> nibbles = {0, 5, 7, 15};
            fact.kind = "raw-other";
            fact.link_word = nibbles[random.below(nibbles.size())];
            return {static_cast<std::uint8_t>(fact.link_word << 4 | 5)};
        }
        if (options.datalink == dlt_null) {
            // The IPv6 family numbers of NetBSD/OpenBSD (24) and of Darwin
            // (30): a reader that wants IPv6 under 28 must not count them.
            fact.kind = "null-other";
            fact.link_word = random.coin() ? 24 : 30;
            return null_link(fact.link_word, {});
        }
        struct ppp_protocol {
            std::uint16_t number;
            const char* kind;
        };
        static constexpr std::array<ppp_protocol, 7> protocols = {{
            {0x8021, "ppp-ipcp"},
            {0x8057, "ppp-ipv6cp"},
            {0x80fd, "ppp-ccp"},
            {0xc021, "ppp-lcp"},
            {0xc023, "ppp-pap"},
            {0xc223, "ppp-chap"},
            {0x002b, "ppp-other"},  // IPX over PPP: a protocol outside the classified set
        }};
        const ppp_protocol& chosen = protocols[random.below(protocols.size())];
        fact.kind = chosen.kind;
        fact.link_word = chosen.number;
        const auto identifier = static_cast<std::uint8_t>(random.below(256));
        return ppp(chosen.number, ppp_control(1, identifier));  // PPP serial writes the same
    }

    void fill(frame& out, frame_fact& fact) {
        fact = frame_fact{};
        fact.datalink = options.datalink;
        fact.header_words = 0;
        const frame_kind kind = draw_kind();
        const auto wire =
            static_cast<std::uint32_t>(random.between(options.min_length, options.max_length));
        framing = plain_framing(options.datalink);
        switch (kind) {
        case frame_kind::ipv4_tcp:
        case frame_kind::ipv4_udp:
        case frame_kind::ipv4_icmp:
        case frame_kind::ipv4_options:
        case frame_kind::ipv4_fragment:
            framing = draw_framing(options.datalink, options.vary_framing, ppp_ipv4, random);
            out.bytes = make_ipv4(kind, wire, fact);
            break;
        case frame_kind::ipv6:
            framing = draw_framing(options.datalink, options.vary_framing, ppp_ipv6, random);
            out.bytes = make_ipv6(wire, fact);
            break;
        case frame_kind::ipv6_ext:
        case frame_kind::dot1q:
        case frame_kind::qinq:
        case frame_kind::pppoe:
        case frame_kind::mpls:
            out.bytes = layered.make(layered_kind_of(kind), wire, fact);
            set_plain_reading(fact, out.bytes);
            break;
        default:
            out.bytes = make_other(kind, wire, fact);
            break;
        }
        fact.wire_length = static_cast<std::uint32_t>(out.bytes.size());
        fact.captured_length = std::min(fact.wire_length, options.snap_length);
        if (options.cut_frames && fact.captured_length > 0 && cuts.coin()) {
            fact.captured_length = static_cast<std::uint32_t>(
                cuts.between(1, std::min(fact.captured_length, largest_cut)));
        }
        out.bytes.resize(fact.captured_length);
        out.wire_length = fact.wire_length;
        // Drawn whether or not a burst uses it, so that timing leaves the
        // rest of the draws alone.
        const auto gap = static_cast<std::int64_t>(random.below(2'000'000 / options.rate));
        const bool bursting =
            options.burst_every != 0 && made % options.burst_every < options.burst_frames;
        clock_us += bursting ? 0 : gap;
        if (options.pause_every != 0 && made != 0 && made % options.pause_every == 0) {
            clock_us += options.pause_microseconds;
        }
        out.seconds = options.start_seconds + clock_us / 1000000;
        out.microseconds = clock_us % 1000000;
        fact.seconds = out.seconds;
        fact.microseconds = static_cast<std::uint32_t>(out.microseconds);
    }
};

mix_generator::mix_generator(const mix_options& options) {
    check_options(options);
    state_ = new state(options);
}

mix_generator::~mix_generator() { delete state_; }

bool mix_generator::next(frame& out, frame_fact& fact) {
    if (state_->made == state_->options.frames) {
        return false;
    }
    state_->fill(out, fact);
    ++state_->made;
    return true;
}

mix_options every_encapsulation_mix(int datalink, std::uint64_t frames) {
    mix_options mix;
    mix.frames = frames;
    mix.datalink = datalink;
    mix.vary_framing = true;
    mix.weights.ipv6_ext = 8;
    mix.weights.dot1q = 4;
    mix.weights.qinq = 4;
    mix.weights.pppoe = 4;
    mix.weights.mpls = 4;
    return mix;
}

generated_capture generate_mix(const mix_options& options) {
    mix_generator generator(options);
    generated_capture capture;
    frame f;
    frame_fact fact;
    while (generator.next(f, fact)) {
        capture.frames.push_back(std::move(f));
        capture.facts.push_back(std::move(fact));
        f = frame{};
    }
    return capture;
}

}  // namespace twgen
