// The names the reentrant calls give, alone and from many threads at once,
// are those of the single-threaded calls the labels used to make: for every
// well-known port, every protocol number, and the addresses of the machine's
// own hosts file (looked up there first, so no query leaves the machine).

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "report/name_lookups.h"
#include "report/name_service.h"
#include "stats/stat_tables.h"

using namespace tallywire;

namespace {

std::optional<std::string> name_or_none(const char* name) {
    return name == nullptr ? std::nullopt : std::optional<std::string>(name);
}

std::optional<std::string> classic_service(std::uint16_t port) {
    const servent* entry = getservbyport(htons(port), nullptr);
    return name_or_none(entry != nullptr ? entry->s_name : nullptr);
}

std::optional<std::string> classic_protocol(std::uint16_t protocol) {
    const protoent* entry = getprotobynumber(protocol);
    return name_or_none(entry != nullptr ? entry->p_name : nullptr);
}

std::optional<std::string> classic_host(std::uint32_t address) {
    const hostent* entry = gethostbyaddr(&address, sizeof address, AF_INET);
    return name_or_none(entry != nullptr ? entry->h_name : nullptr);
}

std::vector<std::uint16_t> ports() {
    std::vector<std::uint16_t> list;
    for (unsigned port = 0; port <= 1024; ++port) {
        list.push_back(static_cast<std::uint16_t>(port));
    }
    for (const unsigned port : {3306u, 5353u, 8080u, 40000u, 65535u}) {
        list.push_back(static_cast<std::uint16_t>(port));
    }
    return list;
}

// IPv4 addresses of /etc/hosts, in network order.
std::vector<std::uint32_t> hosts_file_addresses() {
    std::ifstream hosts("/etc/hosts");
    std::vector<std::uint32_t> addresses;
    std::string line;
    while (std::getline(hosts, line)) {
        std::string first;
        std::istringstream(line) >> first;
        in_addr address{};
        if (!first.empty() && first[0] != '#' && inet_pton(AF_INET, first.c_str(), &address) == 1) {
            addresses.push_back(address.s_addr);
        }
    }
    return addresses;
}

TEST(NameService, SameAnswersAsTheSingleThreadedCalls) {
    for (const std::uint16_t port : ports()) {
        EXPECT_EQ(tallywire::service_name_of(port), classic_service(port)) << "port " << port;
    }
    for (unsigned protocol = 0; protocol <= 256; ++protocol) {
        const auto number = static_cast<std::uint16_t>(protocol);
        EXPECT_EQ(tallywire::protocol_name_of(number), classic_protocol(number))
            << "protocol " << protocol;
    }
    for (const std::uint32_t address : hosts_file_addresses()) {
        EXPECT_EQ(tallywire::host_name_of(address), classic_host(address)) << address;
    }
}

// Rows on both sides (as under -d) share one lookup, and every row gets the
// name of its own key, wherever the threads' answers fell.
TEST(NameService, RowsGetTheirOwnNamesFromConcurrentLookups) {
    std::vector<report_row> rows;
    for (const std::uint16_t port : ports()) {
        for (const std::int8_t side : {0, 1}) {
            report_row row;
            row.key.value = port;
            row.key.direction = side;
            rows.push_back(row);
        }
    }
    const tallywire::row_names names = tallywire::look_up_row_names(stat_port, rows);
    ASSERT_TRUE(names.ready());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto port = static_cast<std::uint16_t>(rows[i].key.value);
        EXPECT_EQ(name_or_none(names.name(i)), classic_service(port)) << "port " << port;
    }
    std::vector<report_row> protocols(3);
    protocols[0].key.value = 6 + 1;  // stored one higher
    protocols[1].key.value = 17 + 1;
    protocols[2].key.value = 254 + 1;
    const tallywire::row_names protocol_names = tallywire::look_up_row_names(stat_ip, protocols);
    for (std::size_t i = 0; i < protocols.size(); ++i) {
        const auto number = static_cast<std::uint16_t>(protocols[i].key.value - 1);
        EXPECT_EQ(name_or_none(protocol_names.name(i)), classic_protocol(number));
    }
}

// Kinds without names, and no rows, leave the labels to themselves.
TEST(NameService, NothingToLookUpIsNotReady) {
    const std::vector<report_row> rows(4);
    for (const std::uint32_t kind : {stat_total, stat_link, stat_network}) {
        EXPECT_FALSE(tallywire::look_up_row_names(kind, rows).ready()) << kind;
    }
    EXPECT_FALSE(tallywire::look_up_row_names(stat_host, {}).ready());
}

}  // namespace
