// The frame decoder over real pcap files: every file is written through
// libpcap's dump API and read back through run_pcap_source, and a sink of
// this test keeps what the decoder's view of each frame showed.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/frame_view.h"
#include "capture/sources.h"
#include "capture/source_test_support.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "cli/program_state.h"
#include "support/process.h"

using namespace tallywire;

namespace {

using twgen::bytes;

// What the accounting would see, taken while the view is valid.
using decoded = twtest::seen_frame;
constexpr packet_sink keep_record = twtest::collect_frame;

const twgen::mac_address mac_a = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const twgen::mac_address mac_b = {0x0a, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
const std::uint32_t host_a = twgen::ipv4_address("198.51.100.7");
const std::uint32_t host_b = twgen::ipv4_address("203.0.113.9");
const twgen::ipv6_address v6_a = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const twgen::ipv6_address v6_b = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

bytes tcp_over_ipv4() {
    return twgen::ipv4(host_a, host_b, twgen::ip_tcp, twgen::tcp(1234, 80, 9));
}
bytes udp_over_ipv6() { return twgen::ipv6(v6_a, v6_b, twgen::ip_udp, twgen::udp(546, 547, 3)); }

twgen::frame frame_of(bytes contents, std::uint32_t wire_length = 0) {
    twgen::frame f;
    f.bytes = std::move(contents);
    f.wire_length = wire_length;
    return f;
}

class DecodeFrame : public ::testing::Test {
protected:
    void SetUp() override { reset_program_state(); }

    // Writes the frames to a pcap file of the link type and reads it back.
    std::vector<decoded> decode(int datalink, std::vector<twgen::frame> frames,
                                std::uint32_t snap_length = 262144,
                                const std::string& filter = "") {
        const std::string path = dir_.file("capture" + std::to_string(files_++) + ".pcap");
        twgen::write_pcap(path, datalink, snap_length, frames);
        std::vector<decoded> kept;
        EXPECT_EQ(run_pcap_source(twtest::file_config(path, filter), keep_record, &kept), 0);
        return kept;
    }

    decoded decode_one(int datalink, bytes contents, std::uint32_t wire_length = 0) {
        std::vector<twgen::frame> frames;
        frames.push_back(frame_of(std::move(contents), wire_length));
        const std::vector<decoded> kept = decode(datalink, std::move(frames));
        EXPECT_EQ(kept.size(), 1u);
        return kept.empty() ? decoded{} : kept.front();
    }

    twtest::temp_dir dir_;
    int files_ = 0;
};

bytes tail_from(const bytes& frame, std::size_t offset) {
    return bytes(frame.begin() + static_cast<std::ptrdiff_t>(offset), frame.end());
}

struct class_case {
    std::uint32_t word;  // family word, Ethernet type or PPP protocol
    std::uint32_t network_class;
};

// The classification and what the accessors answer for it: only IPv4 and
// IPv6 have a transport protocol, read from the frame's own bytes.
void expect_classified(const decoded& d, std::uint32_t link_class, std::uint32_t network_class,
                       const bytes& payload) {
    EXPECT_EQ(d.link_code, link_class + 256 * network_class);
    EXPECT_EQ(d.data, payload);
    EXPECT_EQ(d.ipv4, network_class == 1 ? 1 : 0);
    EXPECT_EQ(d.ipv6, network_class == 2 ? 1 : 0);
    const std::uint8_t expected_transport = network_class == 1   ? payload[9]
                                            : network_class == 2 ? payload[6]
                                                                 : 0;
    EXPECT_EQ(d.transport, expected_transport);
}

// Every row of the null-link table, and family numbers of other systems'
// IPv6 (24, 30) and 2 in the other byte order, which are not IP here.
TEST_F(DecodeFrame, NullLinkFamilies) {
    const class_case cases[] = {{2, 1},  {28, 2}, {24, 0},         {30, 0},
                                {10, 0}, {0, 0},  {0x02000000, 0}, {0xffffffff, 0}};
    for (const class_case& c : cases) {
        const bytes payload = c.word == 28 ? udp_over_ipv6() : tcp_over_ipv4();
        const bytes frame = twgen::null_link(c.word, payload);
        const decoded d = decode_one(DLT_NULL, frame);
        SCOPED_TRACE("family " + std::to_string(c.word));
        expect_classified(d, link_class_null, c.network_class, payload);
        EXPECT_EQ(d.wire_length, frame.size());
    }
}

TEST_F(DecodeFrame, EthernetTypes) {
    const class_case cases[] = {
        {twgen::ethertype_ipv4, 1},
        {twgen::ethertype_ipv6, 2},
        {twgen::ethertype_arp, 3},
        {twgen::ethertype_revarp, 4},
        {twgen::ethertype_ipx, 5},
        {twgen::ethertype_appletalk, 6},
        {twgen::ethertype_aarp, 7},
        {twgen::ethertype_vlan, 0},
        {0x88cc, 0},
        {0x0000, 0},
        {0xffff, 0},
        {0x0801, 0},
    };
    for (const class_case& c : cases) {
        const auto type = static_cast<std::uint16_t>(c.word);
        const bytes payload = type == twgen::ethertype_ipv6 ? udp_over_ipv6()
                              : type == twgen::ethertype_arp || type == twgen::ethertype_revarp
                                  ? twgen::arp(1, host_a, host_b)
                                  : tcp_over_ipv4();
        const bytes frame = twgen::ethernet(mac_a, mac_b, type, payload);
        const decoded d = decode_one(DLT_EN10MB, frame);
        SCOPED_TRACE("type " + std::to_string(c.word));
        // ARP and the other non-IP classes have no transport protocol, even
        // where byte 9 of their data is not 0.
        expect_classified(d, link_class_ethernet, c.network_class, payload);
    }
}

// A VLAN tag is not looked through; an 802.3 length is no type.
TEST_F(DecodeFrame, TaggedAndLengthFramesAreOtherEthernet) {
    const decoded tagged = decode_one(
        DLT_EN10MB, twgen::ethernet_vlan(mac_a, mac_b, 7, twgen::ethertype_ipv4, tcp_over_ipv4()));
    EXPECT_EQ(tagged.link_code, 2u);
    EXPECT_EQ(tagged.transport, 0);

    const bytes llc = twgen::ethernet_8023(mac_a, mac_b, twgen::filler(40, 0xaa));
    const decoded length = decode_one(DLT_EN10MB, llc);
    EXPECT_EQ(length.link_code, 2u);
    EXPECT_EQ(length.data, tail_from(llc, 14));
}

TEST_F(DecodeFrame, PppProtocols) {
    const class_case cases[] = {{0x0021, 1},   {0x0057, 2},   {0x8021, 3},   {0x8057, 4},
                                {0x80fd, 5},   {0xc021, 6},   {0xc023, 7},   {0xc223, 8},
                                {0x002b, 255}, {0x0000, 255}, {0xffff, 255}, {0x0800, 255}};
    for (const class_case& c : cases) {
        const bytes payload = c.word == 0x0057 ? udp_over_ipv6() : tcp_over_ipv4();
        const decoded d =
            decode_one(DLT_PPP, twgen::ppp(static_cast<std::uint16_t>(c.word), payload));
        SCOPED_TRACE("protocol " + std::to_string(c.word));
        expect_classified(d, link_class_ppp, c.network_class, payload);
    }
}

// Address and control are skipped unread: any values there decode alike.
TEST_F(DecodeFrame, PppAddressAndControlAreNotLookedAt) {
    bytes frame = twgen::ppp(0x0021, tcp_over_ipv4());
    frame[0] = 0x00;
    frame[1] = 0x99;
    const decoded d = decode_one(DLT_PPP, frame);
    EXPECT_EQ(d.link_code, 260u);
    EXPECT_EQ(d.transport, twgen::ip_tcp);
    EXPECT_EQ(d.data, tail_from(frame, 4));
}

// A link type the decoder does not know: no classification, and the data
// holds the frame from its first byte. DLT_EN3MB is one that libpcap cannot
// compile even the empty filter for; its frames are read all the same.
TEST_F(DecodeFrame, UnlistedLinkTypesKeepTheWholeFrame) {
    for (const int datalink : {DLT_RAW, DLT_LINUX_SLL, DLT_IEEE802_11, DLT_IEEE802_11_RADIO,
                               DLT_USER0, DLT_EN3MB}) {
        const bytes frame = tcp_over_ipv4();
        const decoded d = decode_one(datalink, frame);
        SCOPED_TRACE("link type " + std::to_string(datalink));
        EXPECT_EQ(d.link_code, 0u);
        EXPECT_EQ(d.data, frame);
        EXPECT_EQ(d.ipv4, 0);
        EXPECT_EQ(d.transport, 0);
    }
}

TEST_F(DecodeFrame, TimestampAndWireLengthCopied) {
    std::vector<twgen::frame> frames;
    for (int i = 0; i < 3; ++i) {
        twgen::frame f = frame_of(twgen::ethernet(mac_a, mac_b, 0x0800, tcp_over_ipv4()));
        f.seconds = 1700000000 + i;
        f.microseconds = 999999 - i;
        f.wire_length =
            static_cast<std::uint32_t>(f.bytes.size()) + 100u * static_cast<unsigned>(i);
        frames.push_back(f);
    }
    const std::vector<decoded> kept = decode(DLT_EN10MB, frames);
    ASSERT_EQ(kept.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(kept[i].seconds, frames[i].seconds);
        EXPECT_EQ(kept[i].microseconds, frames[i].microseconds);
        EXPECT_EQ(kept[i].wire_length, frames[i].wire_length);
    }
}

// A live-sized snapshot of a full-sized frame: 68 bytes captured of 1514.
TEST_F(DecodeFrame, SnapshotOf68BytesOfAFullFrame) {
    const bytes frame = twgen::ethernet(
        mac_a, mac_b, 0x0800, twgen::ipv4(host_a, host_b, twgen::ip_udp, twgen::udp(53, 53, 1472)));
    ASSERT_EQ(frame.size(), 1514u);
    const std::vector<decoded> kept = decode(DLT_EN10MB, {frame_of(frame)}, 68);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].data.size(), 54u);
    EXPECT_EQ(kept[0].wire_length, 1514u);
    EXPECT_EQ(kept[0].data, bytes(frame.begin() + 14, frame.begin() + 68));
    EXPECT_EQ(kept[0].transport, twgen::ip_udp);
}

// More than the record holds after the link header: cut to 32768 bytes,
// while the wire length stays whole.
TEST_F(DecodeFrame, LongFramesCutTo32768Bytes) {
    struct long_case {
        int datalink;
        std::size_t header;
        std::size_t after_header;
        std::size_t copied;
    };
    const long_case cases[] = {
        {DLT_EN10MB, 14, 32767, 32767}, {DLT_EN10MB, 14, 32768, 32768},
        {DLT_EN10MB, 14, 32769, 32768}, {DLT_EN10MB, 14, 60000, 32768},
        {DLT_NULL, 4, 40000, 32768},    {DLT_PPP, 4, 32769, 32768},
        {DLT_RAW, 0, 50000, 32768},
    };
    for (const long_case& c : cases) {
        bytes frame(c.header + c.after_header);
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        }
        const decoded d = decode_one(c.datalink, frame, 70000);
        SCOPED_TRACE("link type " + std::to_string(c.datalink) + ", " +
                     std::to_string(c.after_header) + " bytes after the header");
        ASSERT_EQ(d.data.size(), c.copied);
        EXPECT_EQ(d.wire_length, 70000u);
        EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(),
                               frame.begin() + static_cast<std::ptrdiff_t>(c.header)));
    }
}

// A frame shorter than its link header is still counted, under its link
// class with network class 0, and nothing of it is taken as header or data.
TEST_F(DecodeFrame, FramesShorterThanTheirLinkHeader) {
    struct short_case {
        int datalink;
        std::size_t length;
        std::uint32_t link_code;
    };
    const short_case cases[] = {
        {DLT_NULL, 0, 1},   {DLT_NULL, 3, 1},    {DLT_NULL, 4, 257},    {DLT_EN10MB, 0, 2},
        {DLT_EN10MB, 1, 2}, {DLT_EN10MB, 13, 2}, {DLT_EN10MB, 14, 258}, {DLT_PPP, 0, 4},
        {DLT_PPP, 2, 4},    {DLT_PPP, 3, 4},     {DLT_PPP, 4, 260},     {DLT_RAW, 0, 0},
    };
    const bytes earlier = twgen::ethernet(mac_a, mac_b, 0x0800, tcp_over_ipv4());
    for (const short_case& c : cases) {
        // Every header field of the short frame would classify it as IPv4
        // if it were read, and gives other Ethernet addresses.
        bytes full;
        if (c.datalink == DLT_NULL) {
            full = twgen::null_link(2, {});
        } else if (c.datalink == DLT_PPP) {
            full = twgen::ppp(0x0021, {});
        } else if (c.datalink == DLT_EN10MB) {
            full = twgen::ethernet(mac_b, mac_a, 0x0800, {});
        }
        full.resize(c.length);
        decode(DLT_EN10MB, {frame_of(earlier)});
        const decoded d = decode_one(c.datalink, full, 1500);
        SCOPED_TRACE("link type " + std::to_string(c.datalink) + ", " + std::to_string(c.length) +
                     " bytes");
        EXPECT_EQ(d.link_code, c.link_code);
        EXPECT_EQ(d.data.size(), 0u);
        EXPECT_EQ(d.wire_length, 1500u);
        EXPECT_EQ(d.transport, 0);
    }
}

// Frames of other link types after an Ethernet one are read from their own
// bytes alone: each view begins after its own link header.
TEST_F(DecodeFrame, FramesAfterAnEthernetOneAreReadAlone) {
    decode_one(DLT_EN10MB,
               twgen::ethernet(mac_a, mac_b, twgen::ethertype_arp, twgen::arp(1, host_a, host_b)));
    const decoded ppp = decode_one(DLT_PPP, twgen::ppp(0xc021, twgen::filler(10)));
    const decoded null = decode_one(DLT_NULL, twgen::null_link(28, udp_over_ipv6()));
    const decoded raw = decode_one(DLT_RAW, tcp_over_ipv4());
    EXPECT_EQ(ppp.link_code, 4u + 256u * 6u);
    EXPECT_EQ(ppp.data, twgen::filler(10));
    EXPECT_EQ(null.link_code, 1u + 256u * 2u);
    EXPECT_EQ(null.data, udp_over_ipv6());
    EXPECT_EQ(raw.link_code, 0u);
    EXPECT_EQ(raw.data, tcp_over_ipv4());
}

// A frame cut short after a longer one: the accessors read the cut frame's
// bytes alone, never what a longer frame before it had there.
TEST_F(DecodeFrame, BytesPastTheCapturedOnesAreNotTheFrames) {
    struct cut_case {
        std::uint16_t type;
        bytes earlier_payload;
        std::size_t kept_bytes;
        std::uint8_t transport;
    };
    const bytes v4 = tcp_over_ipv4();
    const bytes v6 = udp_over_ipv6();
    const cut_case cases[] = {
        {twgen::ethertype_ipv4, v4, 0, 0},
        {twgen::ethertype_ipv4, v4, 9, 0},
        {twgen::ethertype_ipv4, v4, 10, twgen::ip_tcp},
        {twgen::ethertype_ipv6, v6, 6, 0},
        {twgen::ethertype_ipv6, v6, 7, twgen::ip_udp},
    };
    for (const cut_case& c : cases) {
        const bytes earlier = twgen::ethernet(mac_a, mac_b, c.type, c.earlier_payload);
        bytes cut = earlier;
        cut.resize(14 + c.kept_bytes);
        const std::vector<decoded> kept = decode(DLT_EN10MB, {frame_of(earlier), frame_of(cut)});
        ASSERT_EQ(kept.size(), 2u);
        SCOPED_TRACE(std::to_string(c.kept_bytes) + " bytes kept");
        EXPECT_EQ(kept[1].data.size(), c.kept_bytes);
        EXPECT_EQ(kept[1].transport, c.transport);
    }
}

// The filter expression applies to a file as much as to an interface.
TEST_F(DecodeFrame, FiltersApplyToFiles) {
    const std::vector<twgen::frame> frames = {
        frame_of(
            twgen::ethernet(mac_a, mac_b, 0x0800,
                            twgen::ipv4(host_a, host_b, twgen::ip_udp, twgen::udp(5353, 53, 4)))),
        frame_of(twgen::ethernet(mac_a, mac_b, 0x0800, tcp_over_ipv4())),
        frame_of(twgen::ethernet(mac_a, mac_b, twgen::ethertype_ipv6, udp_over_ipv6())),
        frame_of(
            twgen::ethernet(mac_a, mac_b, twgen::ethertype_arp, twgen::arp(1, host_a, host_b))),
        frame_of(
            twgen::ethernet(mac_b, mac_a, 0x0800,
                            twgen::ipv4(host_b, host_a, twgen::ip_udp, twgen::udp(53, 5353, 9)))),
    };
    struct filter_case {
        const char* expression;
        std::vector<std::uint32_t> link_codes;
    };
    const filter_case cases[] = {
        {"", {258, 258, 514, 770, 258}},
        {"udp port 53", {258, 258}},
        {"tcp", {258}},
        {"ip6", {514}},
        {"arp", {770}},
        {"icmp", {}},
        {"src host 203.0.113.9", {258}},
    };
    for (const filter_case& c : cases) {
        std::vector<std::uint32_t> seen;
        for (const decoded& d : decode(DLT_EN10MB, frames, 262144, c.expression)) {
            seen.push_back(d.link_code);
        }
        EXPECT_EQ(seen, c.link_codes) << "filter \"" << c.expression << "\"";
    }
}

TEST_F(DecodeFrame, FilterThatDoesNotCompileDeliversNothing) {
    const std::string path = dir_.file("one.pcap");
    twgen::write_pcap(path, DLT_EN10MB, 65535,
                      std::vector<twgen::frame>{
                          frame_of(twgen::ethernet(mac_a, mac_b, 0x0800, tcp_over_ipv4()))});
    std::vector<decoded> kept;
    ::testing::internal::CaptureStderr();
    const int result =
        run_pcap_source(twtest::file_config(path, "port 80 and ("), keep_record, &kept);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(kept.empty());
    EXPECT_EQ(err.rfind("pcap_compile(): ", 0), 0u) << err;
}

}  // namespace
