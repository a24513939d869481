// The merge reads a key back only in the one form the reports write it.

#include <gtest/gtest.h>

#include <string>

#include "report/row_keys.h"
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

}  // namespace
