// The fixed link labels and the numeric fallbacks of the name lookups.

#include <arpa/inet.h>
#include <netdb.h>

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli/program_state.h"
#include "report/row_labels.h"

using namespace tallywire;

namespace {

std::uint32_t code(std::uint32_t link_class, std::uint32_t network_class) {
    return link_class + 256 * network_class;
}

TEST(LinkLabel, EveryClassificationHasItsText) {
    const std::vector<std::pair<std::uint32_t, std::string>> labels = {
        {code(2, 1), "Ethernet (IP):"},
        {code(2, 2), "Ethernet (IPv6):"},
        {code(2, 3), "Ethernet (arp):"},
        {code(2, 4), "Ethernet (revarp):"},
        {code(2, 5), "Ethernet (IPX):"},
        {code(2, 6), "Ethernet (AppleTalk):"},
        {code(2, 7), "Ethernet (AppleTalk ARP):"},
        {code(2, 0), "Ethernet (other):"},
        {code(2, 8), "Ethernet (other):"},
        {code(2, 255), "Ethernet (other):"},
        {code(4, 1), "PPP (IP):"},
        {code(4, 2), "PPP (IPv6):"},
        {code(4, 3), "PPP (IPCP):"},
        {code(4, 4), "PPP (IPCP6):"},
        {code(4, 5), "PPP (CCP):"},
        {code(4, 6), "PPP (LCP):"},
        {code(4, 7), "PPP (PAP):"},
        {code(4, 8), "PPP (CHAP):"},
        {code(4, 255), "PPP (other):"},
        {code(4, 0), "PPP (other):"},
        {code(1, 1), "No Link (IP):"},
        {code(1, 2), "No Link (IPv6):"},
        {code(1, 0), "No Link (non-IP):"},
        {code(1, 3), "No Link (non-IP):"},
        {code(0, 0), "UNKNWON (non-IP):"},
        // Classes the decoder never gives still get a text.
        {code(3, 1), "UNKNWON (non-IP):"},
        {code(0, 1), "UNKNWON (non-IP):"},
        {0xffffffffu, "UNKNWON (non-IP):"},
    };
    for (const auto& [link_code, text] : labels) {
        EXPECT_EQ(link_label(link_code), text) << "link code " << link_code;
    }
}

TEST(NameLabels, NumbersUnderNoResolve) {
    EXPECT_STREQ(protocol_label(6, true), "6");
    EXPECT_STREQ(protocol_label(65535, true), "65535");
    EXPECT_STREQ(service_label(80, true), "80");
    EXPECT_STREQ(service_label(0, true), "0");
}

TEST(NameLabels, SystemDatabases) {
    if (getservbyport(htons(80), nullptr) == nullptr || getprotobynumber(17) == nullptr) {
        GTEST_SKIP() << "the services or protocols database (netbase) is not installed";
    }
    EXPECT_STREQ(service_label(80, false), "http (80)");
    // UDP-only and TCP-only entries both match: no protocol is asked for.
    EXPECT_STREQ(service_label(53, false), "domain (53)");
    EXPECT_STREQ(protocol_label(17, false), "udp");
    EXPECT_STREQ(protocol_label(1, false), "icmp");
    // Without an entry the number stands alone.
    ASSERT_EQ(getservbyport(htons(65000), nullptr), nullptr);
    EXPECT_STREQ(service_label(65000, false), "65000");
    ASSERT_EQ(getprotobynumber(250), nullptr);
    EXPECT_STREQ(protocol_label(250, false), "250");
}

class DirectionSuffix : public ::testing::Test {
protected:
    void SetUp() override { reset_program_state(); }
    void TearDown() override { reset_program_state(); }
};

TEST_F(DirectionSuffix, MarksOnlyUnderSplit) {
    const report_row source{table_key{5, 0}, 1, 1};
    const report_row destination{table_key{5, 1}, 1, 1};
    EXPECT_EQ(direction_suffix(source, false), "");
    EXPECT_EQ(direction_suffix(destination, false), "");
    EXPECT_EQ(direction_suffix(source, true), "> ");
    EXPECT_EQ(direction_suffix(destination, true), "< ");
}

TEST(AddressLabels, DottedAsInetNtoaWritesIt) {
    std::array<char, 256> text{};
    std::mt19937 random(5);
    std::vector<std::uint32_t> addresses = {0, 0xffffffffu, 0x0100007fu, 0x0a000001u, 0x00ff00ffu};
    for (int i = 0; i < 1000; ++i) {
        addresses.push_back(static_cast<std::uint32_t>(random()));
    }
    for (const std::uint32_t value : addresses) {
        in_addr address{};
        address.s_addr = value;
        ASSERT_EQ(host_label(value, true, 24, text), inet_ntoa(address)) << value;
        // Network numbers: the host part as zeros, by the classful rules.
        const std::uint32_t network = value & 0x00ffffffu;
        ASSERT_EQ(network_label(network, text), inet_ntoa(inet_makeaddr(network, 0))) << network;
    }
}

TEST(AddressLabels, StayInsideSmallBuffers) {
    std::array<char, 8> small{};
    in_addr address{};
    inet_pton(AF_INET, "192.168.100.200", &address);
    // Seven characters and the terminating zero.
    EXPECT_EQ(host_label(address.s_addr, true, 24, small), "192.168");
    EXPECT_EQ(network_label(0xc0a864u, small), "192.168");
    EXPECT_EQ(host_label(address.s_addr, true, 24, std::span<char>{}), "");
}

}  // namespace
