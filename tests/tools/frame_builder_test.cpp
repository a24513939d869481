// The builders are the base of every test capture: each layer is read back
// here byte by byte.

#include "gen/frame_builder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "frame_reader.h"

namespace {

using tools_test::be16;
using tools_test::be32;
using tools_test::ones_sum;

const twgen::mac_address dst_mac = {0x02, 0, 0, 0, 0, 0x0a};
const twgen::mac_address src_mac = {0x02, 0, 0, 0, 0, 0x0b};

TEST(FrameBuilder, AddressesAreWrittenInNetworkOrder) {
    const std::uint32_t address = twgen::ipv4_address("10.1.2.3");
    EXPECT_EQ(address, 0x0a010203u);
    EXPECT_EQ(twgen::ipv4_bytes(address), (std::array<std::uint8_t, 4>{10, 1, 2, 3}));
    EXPECT_THROW(twgen::ipv4_address("10.1.2"), std::invalid_argument);
    EXPECT_THROW(twgen::ipv4_address("256.1.2.3"), std::invalid_argument);
}

TEST(FrameBuilder, EthernetHeaderThenPayload) {
    const twgen::bytes payload = {1, 2, 3};
    const twgen::bytes f = twgen::ethernet(dst_mac, src_mac, 0x86dd, payload);
    ASSERT_EQ(f.size(), 17u);
    EXPECT_TRUE(std::equal(dst_mac.begin(), dst_mac.end(), f.begin()));
    EXPECT_TRUE(std::equal(src_mac.begin(), src_mac.end(), f.begin() + 6));
    EXPECT_EQ(be16(f, 12), 0x86dd);
    EXPECT_EQ(f[14], 1);
    EXPECT_EQ(f[16], 3);
}

TEST(FrameBuilder, VlanTagSitsBetweenAddressesAndInnerType) {
    const twgen::bytes f = twgen::ethernet_vlan(dst_mac, src_mac, 0x1123, 0x0800, {});
    ASSERT_EQ(f.size(), 18u);
    EXPECT_EQ(be16(f, 12), 0x8100);
    EXPECT_EQ(be16(f, 14), 0x0123) << "the VLAN id keeps its 12 bits only";
    EXPECT_EQ(be16(f, 16), 0x0800);
}

TEST(FrameBuilder, Ieee8023LengthCoversLlcAndPayload) {
    const twgen::bytes f = twgen::ethernet_8023(dst_mac, src_mac, twgen::filler(40));
    ASSERT_EQ(f.size(), 14u + 3 + 40);
    EXPECT_EQ(be16(f, 12), 43);
    EXPECT_EQ(f[14], 0x42);
    EXPECT_EQ(f[15], 0x42);
    EXPECT_EQ(f[16], 0x03);
}

TEST(FrameBuilder, NullLinkFamilyIsInHostOrder) {
    const twgen::bytes f = twgen::null_link(28, twgen::filler(2, 0x77));
    ASSERT_EQ(f.size(), 6u);
    std::uint32_t family = 0;
    std::memcpy(&family, f.data(), 4);
    EXPECT_EQ(family, 28u);
    EXPECT_EQ(f[4], 0x77);
}

TEST(FrameBuilder, PppHeaderIsAddressControlProtocol) {
    const twgen::bytes f = twgen::ppp(0xc021, twgen::ppp_control(1, 7, 6));
    ASSERT_EQ(f.size(), 4u + 4 + 6);
    EXPECT_EQ(f[0], 0xff);
    EXPECT_EQ(f[1], 0x03);
    EXPECT_EQ(be16(f, 2), 0xc021);
    EXPECT_EQ(f[4], 1) << "code";
    EXPECT_EQ(f[5], 7) << "identifier";
    EXPECT_EQ(be16(f, 6), 10) << "length covers code to end";
}

struct ipv4_case {
    const char* name;
    twgen::ipv4_options options;
    std::uint16_t flags_offset;  // the 16-bit word at header offset 6
};

void PrintTo(const ipv4_case& c, std::ostream* out) { *out << c.name; }

class Ipv4Header : public testing::TestWithParam<ipv4_case> {};

TEST_P(Ipv4Header, FieldsChecksumAndPortsAtTheHeaderLength) {
    const ipv4_case& c = GetParam();
    const twgen::bytes transport = twgen::udp(5353, 53, 10);
    const twgen::bytes p = twgen::ipv4(0xc0a80101, 0x0a000002, twgen::ip_udp, transport,
                                       c.options);
    const std::size_t header_length = c.options.header_words * 4u;
    ASSERT_EQ(p.size(), header_length + 18);
    EXPECT_EQ(p[0], 0x40 | c.options.header_words);
    EXPECT_EQ(be16(p, 2), p.size()) << "total length";
    EXPECT_EQ(be16(p, 6), c.flags_offset);
    EXPECT_EQ(p[8], c.options.ttl);
    EXPECT_EQ(p[9], twgen::ip_udp);
    EXPECT_EQ(be32(p, 12), 0xc0a80101u);
    EXPECT_EQ(be32(p, 16), 0x0a000002u);
    EXPECT_EQ(ones_sum(std::span(p).first(header_length)), 0xffff) << "header checksum";
    for (std::size_t i = 20; i < header_length; ++i) {
        EXPECT_EQ(p[i], 0x01) << "option byte " << i << " should be a NOP";
    }
    EXPECT_EQ(be16(p, header_length), 5353) << "source port right after the options";
    EXPECT_EQ(be16(p, header_length + 2), 53);
    EXPECT_EQ(be16(p, header_length + 4), 18) << "UDP length";
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Ipv4Header,
    testing::Values(ipv4_case{"plain", {}, 0x0000},
                    ipv4_case{"options", {.header_words = 6}, 0x0000},
                    ipv4_case{"longest_header", {.header_words = 15, .ttl = 1}, 0x0000},
                    ipv4_case{"first_of_several", {.more_fragments = true}, 0x2000},
                    ipv4_case{"middle_fragment",
                              {.fragment_offset = 185, .more_fragments = true},
                              0x2000 | 185},
                    ipv4_case{"last_fragment", {.fragment_offset = 0x1fff}, 0x1fff}),
    [](const testing::TestParamInfo<ipv4_case>& info) { return info.param.name; });

TEST(FrameBuilder, Ipv6HeaderCarriesPayloadLengthAndNextHeader) {
    twgen::ipv6_address src{};
    twgen::ipv6_address dst{};
    src[15] = 1;
    dst[15] = 2;
    const twgen::bytes p = twgen::ipv6(src, dst, twgen::ip_tcp, twgen::tcp(443, 50000, 5));
    ASSERT_EQ(p.size(), 40u + 25);
    EXPECT_EQ(p[0] >> 4, 6);
    EXPECT_EQ(be16(p, 4), 25);
    EXPECT_EQ(p[6], twgen::ip_tcp);
    EXPECT_EQ(p[23], 1);
    EXPECT_EQ(p[39], 2);
    EXPECT_EQ(be16(p, 40), 443);
    EXPECT_EQ(be16(p, 42), 50000);
    EXPECT_EQ(p[52] >> 4, 5) << "TCP data offset";
}

TEST(FrameBuilder, AddressResolutionLayouts) {
    struct resolution_case {
        twgen::bytes packet;
        std::uint16_t protocol_type;
        std::uint16_t operation;
    };
    const resolution_case cases[] = {
        {twgen::arp(1, 0x0a000001, 0x0a000002), 0x0800, 1},
        {twgen::arp(3, 0x0a000001, 0x0a000002), 0x0800, 3},
        {twgen::aarp(2, 0x0a000001, 0x0a000002), 0x809b, 2},
    };
    for (const resolution_case& c : cases) {
        ASSERT_EQ(c.packet.size(), 28u);
        EXPECT_EQ(be16(c.packet, 0), 1) << "hardware type Ethernet";
        EXPECT_EQ(be16(c.packet, 2), c.protocol_type);
        EXPECT_EQ(c.packet[4], 6);
        EXPECT_EQ(c.packet[5], 4);
        EXPECT_EQ(be16(c.packet, 6), c.operation);
        EXPECT_EQ(be32(c.packet, 14), 0x0a000001u) << "sender protocol address";
        EXPECT_EQ(be32(c.packet, 24), 0x0a000002u) << "target protocol address";
    }
}

TEST(FrameBuilder, TransportHeadersAndPayloadLengths) {
    const twgen::bytes t = twgen::tcp(1, 2, 7);
    ASSERT_EQ(t.size(), 27u);
    EXPECT_EQ(be16(t, 0), 1);
    EXPECT_EQ(be16(t, 2), 2);
    const twgen::bytes u = twgen::udp(3, 4);
    ASSERT_EQ(u.size(), 8u);
    EXPECT_EQ(be16(u, 4), 8);
    const twgen::bytes i = twgen::icmp_echo(4);
    ASSERT_EQ(i.size(), 12u);
    EXPECT_EQ(i[0], 8) << "echo request";
    EXPECT_EQ(twgen::ipx(1, 2, 3).size(), 33u);
    EXPECT_EQ(be16(twgen::ipx(1, 2, 3), 2), 33) << "IPX length";
    EXPECT_EQ(twgen::appletalk_ddp(1, 2, 3).size(), 16u);
    EXPECT_EQ(be16(twgen::appletalk_ddp(1, 2, 3), 0) & 0x03ff, 16) << "DDP length";
}

}  // namespace
