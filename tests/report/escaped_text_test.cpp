// Names can hold any bytes: the JSON and CSV texts made of them must stay
// valid. JSON strings are read back by a real parser.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>

#include "report/escaped_text.h"

namespace {

using tallywire::append_csv_field;
using tallywire::append_json_string;

const std::string replacement = "\xEF\xBF\xBD";

// The string a JSON text holds, read with UTF-8 checked; nullopt when the
// text is no valid JSON.
std::optional<std::string> read_back(const std::string& json) {
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str(), json.size());
    if (parsed.HasParseError() || !parsed.IsString()) {
        return std::nullopt;
    }
    return std::string(parsed.GetString(), parsed.GetStringLength());
}

std::string as_json(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

TEST(JsonString, EveryByteValueRoundTrips) {
    for (int value = 0; value < 256; ++value) {
        const std::string text = std::string("a") + static_cast<char>(value) + "z";
        const auto back = read_back(as_json(text));
        ASSERT_TRUE(back.has_value()) << "byte " << value;
        // A byte of 0x80 or more alone is no UTF-8: it is replaced.
        EXPECT_EQ(*back, value < 0x80 ? text : "a" + replacement + "z") << "byte " << value;
    }
}

TEST(JsonString, WellFormedUtf8KeptIllFormedReplaced) {
    struct sample {
        std::string in;
        std::string back;
    };
    const sample samples[] = {
        {"h\xC3\xA9llo", "h\xC3\xA9llo"},                      // two bytes
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},                      // three
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},              // four
        {"\xC0\x80", replacement + replacement},               // overlong
        {"\xED\xA0\x80", replacement + replacement + replacement},  // surrogate
        {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // past U+10FFFF
        {"\xE2\x82", replacement + replacement},               // cut short
        {"\xE2\x82" "a", replacement + replacement + "a"},
        {"\xF8\x88\x80\x80\x80", replacement + replacement + replacement + replacement + replacement},
    };
    for (const sample& s : samples) {
        const auto back = read_back(as_json(s.in));
        ASSERT_TRUE(back.has_value()) << as_json(s.in);
        EXPECT_EQ(*back, s.back) << as_json(s.in);
    }
}

TEST(CsvField, QuotedOnlyWhereTheGrammarNeedsIt) {
    struct sample {
        std::string in;
        std::string field;
    };
    const sample samples[] = {
        {"http (80)", "http (80)"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"tab\there", "tab" + replacement + "here"},
        {"\xFF", replacement},
        {"", ""},
    };
    for (const sample& s : samples) {
        std::string out;
        append_csv_field(out, s.in);
        EXPECT_EQ(out, s.field);
    }
}

}  // namespace
