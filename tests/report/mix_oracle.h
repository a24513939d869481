#pragma once

// The report a generated mix must give, worked out from the generator's own
// fact record: per kind, the sums per value, then each line written out by
// report_text's own formatting. It never looks at the frames' bytes.

#include <arpa/inet.h>
#include <netdb.h>

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
        link.add(link_text(fact), 0, fact);
        if (fact.ip_version == 4 || fact.ip_version == 6) {
            ip.add(protocol_text(fact.protocol, settings.no_resolve), 0, fact);
        }
        if (fact.ip_version != 4) {
            continue;
        }
        // Ports are where the header length puts them; later fragments
        // carry none.
        if (fact.has_ports) {
            const std::uint16_t from = fact.src_port;
            const std::uint16_t to = fact.dst_port;
            port.add_pair(from == 0 ? "" : port_text(from, settings.no_resolve),
                          to == 0 ? "" : port_text(to, settings.no_resolve), split, fact);
        }
        host.add_pair(fact.src == 0 ? "" : dotted(fact.src), fact.dst == 0 ? "" : dotted(fact.dst),
                      split, fact);
        network.add_pair(network_of(fact.src), network_of(fact.dst), split, fact);
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
