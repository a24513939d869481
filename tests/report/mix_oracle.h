#pragma once

// The report a generated mix must give, worked out from the generator's own
// fact record: per kind, the sums per value, then each line written out by
// report_text's own formatting. It never looks at the frames' bytes.

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gen/traffic_mix.h"
#include "report_check.h"

namespace report_test {

struct oracle_settings {
    std::uint32_t kinds = 0x3f;  // stat_kind bits; Total is always in
    bool direction_split = false;
    bool no_resolve = true;
    bool look_through = false;
    bool ipv6 = false;
};

namespace oracle_detail {

inline std::string dotted(std::uint32_t host_order) {
    return std::to_string(host_order >> 24) + "." + std::to_string((host_order >> 16) & 255) +
           "." + std::to_string((host_order >> 8) & 255) + "." + std::to_string(host_order & 255);
}

// The classful network of an address, written with its host part as zeros;
// empty for addresses whose network number is 0.
inline std::string network_of(std::uint32_t address) {
    std::uint32_t network = 0;
    if ((address >> 31) == 0) {
        network = address & 0xff000000u;
    } else if ((address >> 30) == 2) {
        network = address & 0xffff0000u;
    } else {
        network = address & 0xffffff00u;
    }
    return network == 0 ? std::string() : dotted(network);
}

inline std::string ethernet_text(std::uint32_t type) {
    switch (type) {
    case 0x0800: return "Ethernet (IP):";
    case 0x86dd: return "Ethernet (IPv6):";
    case 0x0806: return "Ethernet (arp):";
    case 0x8035: return "Ethernet (revarp):";
    case 0x8137: return "Ethernet (IPX):";
    case 0x809b: return "Ethernet (AppleTalk):";
    case 0x80f3: return "Ethernet (AppleTalk ARP):";
    default: return "Ethernet (other):";
    }
}

inline std::string ppp_text(std::uint32_t protocol) {
    switch (protocol) {
    case 0x0021: return "PPP (IP):";
    case 0x0057: return "PPP (IPv6):";
    case 0x8021: return "PPP (IPCP):";
    case 0x8057: return "PPP (IPCP6):";
    case 0x80fd: return "PPP (CCP):";
    case 0xc021: return "PPP (LCP):";
    case 0xc023: return "PPP (PAP):";
    case 0xc223: return "PPP (CHAP):";
    default: return "PPP (other):";
    }
}

inline std::string link_text(const twgen::frame_fact& fact) {
    switch (fact.datalink) {
    case 0:
        return fact.link_word == 2    ? "No Link (IP):"
               : fact.link_word == 28 ? "No Link (IPv6):"
                                      : "No Link (non-IP):";
    case 1: return ethernet_text(fact.link_word);
    case 9: return ppp_text(fact.link_word);
    default: return "UNKNWON (non-IP):";
    }
}

inline std::string protocol_text(std::uint8_t protocol, bool no_resolve) {
    const protoent* entry = no_resolve ? nullptr : getprotobynumber(protocol);
    return entry != nullptr ? std::string(entry->p_name) : std::to_string(protocol);
}

inline std::string port_text(std::uint16_t port, bool no_resolve) {
    const servent* entry = no_resolve ? nullptr : getservbyport(htons(port), nullptr);
    return entry != nullptr ? std::string(entry->s_name) + " (" + std::to_string(port) + ")"
                            : std::to_string(port);
}

// Sums per (label, side) of one kind.
class tally {
public:
    void add(const std::string& label, int side, const twgen::frame_fact& fact) {
        row_counts& row = rows_[{label, side}];
        row.packets += 1;
        row.bytes += fact.wire_length;
    }

    // One packet's two sides: merged unless the sides are kept apart, and a
    // value seen on both sides counts once when merged.
    void add_pair(const std::string& source, const std::string& destination, bool split,
                  const twgen::frame_fact& fact) {
        if (!source.empty()) {
            add(source, 0, fact);
        }
        if (!destination.empty() && (split || destination != source)) {
            add(destination, split ? 1 : 0, fact);
        }
    }

    // marked: the kind has two sides and they are kept apart.
    expected_block to_block(const std::string& kind_name, bool marked,
                            std::uint64_t total_bytes) const {
        std::vector<row_counts> rows;
        for (const auto& [key, counts] : rows_) {
            const std::string mark = !marked ? "" : key.second == 0 ? "> " : "< ";
            rows.push_back({key.first + " " + mark, counts.packets, counts.bytes});
        }
        return block(kind_name, rows, total_bytes);
    }

private:
    std::map<std::pair<std::string, int>, row_counts> rows_;
};

}  // namespace oracle_detail

namespace oracle_detail {

inline std::string link_name(int datalink) {
    switch (datalink) {
    case 0:
    case 108: return "No Link";
    case 1: return "Ethernet";
    case 9:
    case 50: return "PPP";
    case 113:
    case 276: return "Linux cooked";
    case 12:
    case 228:
    case 229: return "Raw IP";
    default: return "UNKNWON";
    }
}

inline bool is_ethernet_family(int datalink) {
    return datalink == 1 || datalink == 113 || datalink == 276;
}

// What --look-through finds in a frame, by the last layer in front of its
// network packet: the protocol of its link label, and whether that is
// IPv4 (4) or IPv6 (6).
struct deep_class {
    std::string protocol;
    int version = 0;
};

inline deep_class deep_class_of(const twgen::frame_fact& fact) {
    const std::string other = fact.datalink == 0 || fact.datalink == 108 ? "non-IP" : "other";
    const std::string last = fact.layers.empty() ? "" : fact.layers.back().name;
    const std::uint32_t word = fact.net_word;
    // The link or an MPLS stack leaves it to the version nibble.
    if (last == "mpls" || last == "raw" || fact.datalink == 228 || fact.datalink == 229) {
        const int version = fact.datalink == 228 ? 4 : fact.datalink == 229 ? 6 : int(word);
        return version == 4 ? deep_class{"IP", 4}
               : version == 6 ? deep_class{"IPv6", 6}
                              : deep_class{other, 0};
    }
    if (last == "pppoe") {
        return word == 0x0021 ? deep_class{"IP", 4}
               : word == 0x0057 ? deep_class{"IPv6", 6}
                                : deep_class{other, 0};
    }
    if (last == "ppp") {
        const std::string text = ppp_text(word);  // "PPP (IP):"
        const std::string protocol = text.substr(5, text.size() - 7);
        return {protocol, word == 0x0021 ? 4 : word == 0x0057 ? 6 : 0};
    }
    if (last.starts_with("null") || last.starts_with("loop")) {
        return word == 2                               ? deep_class{"IP", 4}
               : word == 24 || word == 28 || word == 30 ? deep_class{"IPv6", 6}
                                                        : deep_class{other, 0};
    }
    if (is_ethernet_family(fact.datalink)) {
        const std::string text = ethernet_text(word);  // "Ethernet (IP):"
        const std::string protocol = text.substr(10, text.size() - 12);
        return {protocol, word == 0x0800 ? 4 : word == 0x86dd ? 6 : 0};
    }
    return {other, 0};
}

// The /64 prefix of an IPv6 address's text, as the report labels it.
inline std::string prefix64_of(const std::string& address) {
    in6_addr bytes{};
    if (address.empty() || inet_pton(AF_INET6, address.c_str(), &bytes) != 1) {
        return "";
    }
    if (address == "::") {
        return "";
    }
    std::fill(bytes.s6_addr + 8, bytes.s6_addr + 16, std::uint8_t{0});
    char text[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &bytes, text, sizeof text);
    return std::string(text) + "/64";
}

inline std::string ipv4_network_of(const std::string& address) {
    in_addr bytes{};
    if (inet_pton(AF_INET, address.c_str(), &bytes) != 1) {
        return "";
    }
    return network_of(ntohl(bytes.s_addr));
}

}  // namespace oracle_detail

// What one frame gives each kind: the labels of its keys, empty where it
// has none.
struct frame_view {
    std::string link;
    // Two link codes share the label "PPP (other):": an unlisted protocol
    // (network class 255) and a frame cut inside its header (0).
    int link_variant = 0;
    std::string protocol;
    std::string source_port, destination_port;
    std::string source_host, destination_host;
    std::string source_network, destination_network;

    // Port 0 has no row.
    void set_ports(std::uint16_t source, std::uint16_t destination, bool no_resolve) {
        source_port = source == 0 ? "" : oracle_detail::port_text(source, no_resolve);
        destination_port = destination == 0 ? "" : oracle_detail::port_text(destination, no_resolve);
    }
};

// The classic reading, from the first columns of the fact record.
inline frame_view classic_view(const twgen::frame_fact& fact, const oracle_settings& settings) {
    using namespace oracle_detail;
    frame_view view;
    const std::uint64_t captured = fact.captured_length;
    const std::uint64_t at = fact.datalink == 1 ? 14 : 4;  // Ethernet, or PPP and null
    const bool classified = fact.datalink == 0 || fact.datalink == 1 || fact.datalink == 9;
    if (classified && captured < at) {
        // Cut inside its link header: network class 0.
        view.link = link_name(fact.datalink) + (fact.datalink == 0 ? " (non-IP):" : " (other):");
        view.link_variant = fact.datalink == 9 ? 1 : 0;
        return view;
    }
    view.link = link_text(fact);
    if ((fact.ip_version == 4 && captured >= at + 10) ||
        (fact.ip_version == 6 && captured >= at + 7)) {
        view.protocol = protocol_text(fact.protocol, settings.no_resolve);
    }
    if (fact.ip_version != 4) {
        return view;
    }
    // Ports are where the header length puts them, when both were captured;
    // later fragments carry none.
    if (fact.has_ports && captured >= at + 10 && captured >= at + fact.header_words * 4u + 4) {
        view.set_ports(fact.src_port, fact.dst_port, settings.no_resolve);
    }
    if (captured >= at + 20) {
        view.source_host = fact.src == 0 ? "" : dotted(fact.src);
        view.destination_host = fact.dst == 0 ? "" : dotted(fact.dst);
        view.source_network = network_of(fact.src);
        view.destination_network = network_of(fact.dst);
    }
    return view;
}


// The reading of the long options, from the later columns of the fact
// record: --look-through classifies by every layer in front of the packet;
// --ipv6 counts IPv6 packets under the end of their extension chain, and
// in Port, Host and Network.
inline frame_view deep_view(const twgen::frame_fact& fact, const oracle_settings& settings) {
    using namespace oracle_detail;
    const std::uint64_t captured = fact.captured_length;
    const std::uint64_t at = fact.net_offset;
    frame_view view;
    if (!settings.look_through) {
        // The classic link reading; --ipv6 reads on where it found IPv6.
        const frame_view classic = classic_view(fact, settings);
        if (fact.ip_version != 6 || !settings.ipv6 || captured < at) {
            return classic;
        }
        view.link = classic.link;
    }
    deep_class found = settings.look_through ? deep_class_of(fact)
                                             : deep_class{"IPv6", 6};
    // A header cut short by the capture: network class 0. The version
    // nibble behind MPLS or a raw link is read too.
    const bool nibble = !fact.layers.empty() &&
                        (fact.layers.back().name == "mpls" || fact.layers.back().name == "raw") &&
                        fact.datalink != 228 && fact.datalink != 229;
    const bool cut = captured < at + (nibble ? 1 : 0) || (fact.datalink == 1 && captured < 14) ||
                     (fact.datalink == 276 && captured < 20);
    if (settings.look_through && cut) {
        found = deep_class{fact.datalink == 0 || fact.datalink == 108 ? "non-IP" : "other", 0};
        view.link_variant = fact.datalink == 9 || fact.datalink == 50 ? 1 : 0;
    }
    if (settings.look_through) {
        view.link = link_name(fact.datalink) + " (" + found.protocol + "):";
    }
    if (found.version == 4 && fact.net_version == 4) {
        if (captured >= at + 10) {
            view.protocol = protocol_text(fact.upper_protocol, settings.no_resolve);
        }
        if (fact.net_has_ports && captured >= at + 10 && captured >= fact.transport_offset + 4) {
            view.set_ports(fact.net_src_port, fact.net_dst_port, settings.no_resolve);
        }
        if (captured >= at + 20) {
            view.source_host = fact.net_src == "0.0.0.0" ? "" : fact.net_src;
            view.destination_host = fact.net_dst == "0.0.0.0" ? "" : fact.net_dst;
            view.source_network = ipv4_network_of(fact.net_src);
            view.destination_network = ipv4_network_of(fact.net_dst);
        }
        return view;
    }
    if (found.version != 6 || fact.net_version != 6 || captured < at + 7) {
        return view;
    }
    if (!settings.ipv6) {
        const std::uint8_t next =
            fact.extensions.empty() ? fact.upper_protocol : fact.extensions.front().type;
        view.protocol = protocol_text(next, settings.no_resolve);
        return view;
    }
    // The chain, as far as the bytes each header needs were captured.
    std::uint64_t offset = at + 40;
    std::uint8_t protocol = fact.upper_protocol;
    bool complete = true;
    for (const twgen::extension_fact& extension : fact.extensions) {
        if (captured < offset + (extension.type == 44 ? 4 : 2)) {
            protocol = extension.type;
            complete = false;
            break;
        }
        offset += extension.size;
    }
    view.protocol = protocol_text(protocol, settings.no_resolve);
    if (complete && fact.net_has_ports && captured >= fact.transport_offset + 4) {
        view.set_ports(fact.net_src_port, fact.net_dst_port, settings.no_resolve);
    }
    if (captured >= at + 40) {
        view.source_host = fact.net_src == "::" ? "" : fact.net_src;
        view.destination_host = fact.net_dst == "::" ? "" : fact.net_dst;
        view.source_network = prefix64_of(fact.net_src);
        view.destination_network = prefix64_of(fact.net_dst);
    }
    return view;
}

// The blocks of the report that tallywire must print for these frames, in
// kind order. Ports, when their kind is selected, are looked up as the report
// looks them up; hosts are only ever shown as numbers.
inline std::vector<expected_block> expected_report(const std::vector<twgen::frame_fact>& facts,
                                                   const oracle_settings& settings) {
    using namespace oracle_detail;
    const bool split = settings.direction_split;
    std::uint64_t total_bytes = 0;
    tally link, ip, port, host, network;
    for (const auto& fact : facts) {
        total_bytes += fact.wire_length;
        const frame_view view = settings.look_through || settings.ipv6
                                    ? deep_view(fact, settings)
                                    : classic_view(fact, settings);
        link.add(view.link, view.link_variant, fact);
        if (!view.protocol.empty()) {
            ip.add(view.protocol, 0, fact);
        }
        port.add_pair(view.source_port, view.destination_port, split, fact);
        host.add_pair(view.source_host, view.destination_host, split, fact);
        network.add_pair(view.source_network, view.destination_network, split, fact);
    }
    std::vector<expected_block> blocks;
    blocks.push_back(block("Total", {{"Total ", facts.size(), total_bytes}}, total_bytes));
    struct kind_tally {
        std::uint32_t bit;
        const char* name;
        const tally* rows;
        bool two_sided;
    };
    const std::vector<kind_tally> kinds = {
        {2, "Link", &link, false},  {4, "IP", &ip, false},
        {8, "Port", &port, true},   {16, "Host", &host, true},
        {32, "Network", &network, true},
    };
    for (const auto& kind : kinds) {
        if ((settings.kinds & kind.bit) != 0) {
            blocks.push_back(kind.rows->to_block(kind.name, split && kind.two_sided, total_bytes));
        }
    }
    return blocks;
}

}  // namespace report_test
