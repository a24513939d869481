// The merge reads a key back only in the one form the reports write it.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <string>
#include <vector>

#include "report/row_keys.h"
#include "report/row_labels.h"
#include "stats/table_keys.h"
#include "stats/stat_kinds.h"

namespace {

using namespace tallywire;

struct text_key {
    std::uint32_t kind;
    std::string text;
    bool taken;
};

void PrintTo(const text_key& c, std::ostream* out) {
    *out << stat_kind_name(c.kind) << " \"" << c.text << "\"";
}

class TextKey : public ::testing::TestWithParam<text_key> {};

TEST_P(TextKey, TakenOnlyAsWritten) {
    const auto key = key_from_text(GetParam().kind, GetParam().text);
    ASSERT_EQ(key.has_value(), GetParam().taken);
    if (key) {
        // And written back, it is the same text.
        EXPECT_EQ(key_in_message(GetParam().kind, *key), "\"" + GetParam().text + "\"");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TextKey,
    ::testing::Values(text_key{stat_host, "168.73.13.78", true},
                      text_key{stat_host, "168.73.013.78", false},
                      text_key{stat_host, "0.0.0.0", false},
                      text_key{stat_host, "2001:db8::1", true},
                      text_key{stat_host, "2001:DB8::1", false},
                      text_key{stat_host, "2001:db8:0:0:0:0:0:1", false},
                      text_key{stat_host, "::", false},
                      text_key{stat_network, "::/64", true},  // the /64 of ::1
                      text_key{stat_network, "::ffff:0:0/64", false},
                      text_key{stat_network, "168.73.0.0", true},
                      text_key{stat_network, "168.73.13.0", false},  // class B: two bytes
                      text_key{stat_network, "10.0.0.0", true},
                      text_key{stat_network, "10.1.0.0", false},
                      text_key{stat_network, "2001:db8:1:2::/64", true},
                      text_key{stat_network, "2001:db8:1:2::1/64", false},
                      text_key{stat_network, "2001:db8:1:2::", false},
                      text_key{stat_port, "80", false}));

TEST(NumberKey, WithinEachKindsRange) {
    EXPECT_TRUE(key_from_number(stat_link, 0xffff));
    EXPECT_FALSE(key_from_number(stat_link, 0x10000));
    EXPECT_TRUE(key_from_number(stat_ip, 255));
    EXPECT_FALSE(key_from_number(stat_ip, 256));
    EXPECT_FALSE(key_from_number(stat_port, 0));
    EXPECT_TRUE(key_from_number(stat_port, 65535));
    EXPECT_FALSE(key_from_number(stat_port, 65536));
    EXPECT_FALSE(key_from_number(stat_host, 1));
}

// IPv4 keys are read by a parser of the merge's own: it takes exactly the
// texts inet_pton takes, and a network exactly the text its label shows.
TEST(TextKey, DottedQuadAsInetPtonTakesIt) {
    const std::vector<std::string> numbers = {"0", "1", "9", "01", "10", "99", "127", "128",
                                              "192", "255", "256", "00", "001", "999", "1000", ""};
    std::vector<std::string> texts = {" 1.2.3.4", "1.2.3.4 ", "1.2.3.4.", "+1.2.3.4", "1..2.3",
                                      "a.b.c.d", "1.2.3.4/8", "1.2.3", "1.2.3.4.5", "0x1.2.3.4"};
    for (const std::string& a : numbers) {
        for (const std::string& b : numbers) {
            for (const std::string& c : {std::string("0"), std::string("7"), std::string("07")}) {
                for (const std::string& d : numbers) {
                    texts.push_back(a + "." + b + "." + c + "." + d);
                }
            }
        }
    }
    for (const std::string& text : texts) {
        in_addr parsed{};
        const bool taken = inet_pton(AF_INET, text.c_str(), &parsed) == 1 && parsed.s_addr != 0;
        const auto host = key_from_text(stat_host, text);
        ASSERT_EQ(host.has_value(), taken) << text;
        if (taken) {
            EXPECT_EQ(std::get<table_key>(*host).value, parsed.s_addr) << text;
        }

        const std::uint32_t network =
            taken ? keys::network_key(ntohl(parsed.s_addr)) : 0;
        std::array<char, 64> label{};
        const bool network_taken = network != 0 && network_label(network, label) == text;
        const auto as_network = key_from_text(stat_network, text);
        ASSERT_EQ(as_network.has_value(), network_taken) << text;
        if (network_taken) {
            EXPECT_EQ(std::get<table_key>(*as_network).value, network) << text;
        }
    }
}

// Every key the writers write reads back as the same key: each kind's
// lowest and highest values, the all-zero IPv6 prefix, and IPv4 and IPv6
// keys of one table side by side.
TEST(KeyRoundTrip, EveryWrittenKeyReadsBack) {
    const auto wide = [](std::initializer_list<std::uint8_t> head, std::uint8_t last) {
        std::array<std::uint8_t, 16> bytes{};
        std::copy(head.begin(), head.end(), bytes.begin());
        bytes[15] = last;
        return key16::of_bytes(bytes);
    };
    struct narrow_case {
        std::uint32_t kind;
        std::uint32_t value;
    };
    const std::vector<narrow_case> narrow = {
        {stat_total, keys::total_value},
        {stat_link, keys::link_key(0)},
        {stat_link, keys::link_key(0xffff)},
        {stat_ip, keys::ip_key(0)},
        {stat_ip, keys::ip_key(255)},
        {stat_port, keys::port_key(1)},
        {stat_port, keys::port_key(65535)},
        {stat_host, keys::host_key(0x00000001)},
        {stat_host, keys::host_key(0xffffffff)},
        {stat_network, keys::network_key(0x01000000)},  // 1.0.0.0, the lowest class A
        {stat_network, keys::network_key(0x80000000)},  // 128.0.0.0, class B
        {stat_network, keys::network_key(0xffffff00)},  // 255.255.255.0, the highest
    };
    for (const narrow_case& c : narrow) {
        for (const std::int8_t direction : {0, 1}) {
            const report_row row{table_key{c.value, direction}, 1, 1};
            std::array<char, 64> text{};
            const row_key_field written = row_key(labelled_row{c.kind, {}, {}, &row, nullptr}, text);
            const auto read = written.shape == row_key_field::form::text
                                  ? key_from_text(c.kind, written.text)
                                  : std::optional(std::variant<table_key, wide_key>(
                                        *key_from_number(c.kind, written.number)));
            ASSERT_TRUE(read) << stat_kind_name(c.kind) << " " << c.value;
            // The side travels beside the key, in "direction".
            EXPECT_EQ(std::get<table_key>(*read).value, c.value) << stat_kind_name(c.kind);
        }
    }
    const std::vector<std::pair<std::uint32_t, key16>> wide_keys = {
        {stat_host, wide({}, 1)},                      // ::1
        {stat_host, wide({0xff, 0xff, 0xff, 0xff}, 0xff)},
        {stat_host, wide({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0}, 1)},
        {stat_network, key16{}},                       // ::/64
        {stat_network, keys::ipv6_network_key(wide({0x20, 0x01, 0x0d, 0xb8}, 1))},
        {stat_network, key16{~std::uint64_t{0}, 0}},
    };
    for (const auto& [kind, value] : wide_keys) {
        const wide_row row{wide_key{value, 1}, 1, 1};
        std::array<char, 64> text{};
        const row_key_field written = row_key(labelled_row{kind, {}, {}, nullptr, &row}, text);
        const auto read = key_from_text(kind, written.text);
        ASSERT_TRUE(read) << stat_kind_name(kind) << " " << written.text;
        EXPECT_TRUE(std::get<wide_key>(*read).value == value) << written.text;
    }
}

}  // namespace
