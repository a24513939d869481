#include "address_pool.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <set>

namespace twgen {
namespace {

// Documentation, the newer documentation block and unique-local space:
// none of them routes anywhere, and each gives a different first group.
constexpr std::array<std::array<std::uint8_t, 4>, 3> prefix_bases = {{
    {0x20, 0x01, 0x0d, 0xb8},
    {0x3f, 0xff, 0x00, 0x00},
    {0xfd, 0x5e, 0x71, 0x00},
}};

}  // namespace

std::vector<ipv6_address> make_ipv6_hosts(std::uint32_t count, random_source& random) {
    std::vector<ipv6_address> prefixes((count + 3) / 4);
    for (ipv6_address& prefix : prefixes) {
        const auto& base = prefix_bases[random.below(prefix_bases.size())];
        std::copy(base.begin(), base.end(), prefix.begin());
        // Subnet groups with zeros now and then, as real plans have.
        for (std::size_t i = 4; i < 8; ++i) {
            prefix[i] = random.coin() ? 0 : static_cast<std::uint8_t>(random.below(256));
        }
    }
    std::vector<ipv6_address> hosts;
    hosts.reserve(count);
    std::set<ipv6_address> seen;
    while (hosts.size() < count) {
        ipv6_address host = prefixes[random.below(prefixes.size())];
        if (random.coin()) {
            host[15] = static_cast<std::uint8_t>(random.between(1, 255));  // ::1 to ::ff
            host[14] = static_cast<std::uint8_t>(random.below(4));
        } else {
            const std::uint64_t id = random.between(1, UINT64_MAX);
            for (std::size_t i = 0; i < 8; ++i) {
                host[8 + i] = static_cast<std::uint8_t>(id >> (56 - 8 * i));
            }
        }
        if (seen.insert(host).second) {
            hosts.push_back(host);
        }
    }
    return hosts;
}

std::string ipv4_text(std::uint32_t address) {
    const auto b = ipv4_bytes(address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

std::string ipv6_text(const ipv6_address& address) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.data(), text, sizeof text);
    return text;
}

}  // namespace twgen
