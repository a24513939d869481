// The merge's input stream: each block is checked for UTF-8 before the
// parser sees it, and RapidJSON skips whitespace and copies strings through
// the stream's own hooks; both must hold where a block ends.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "merge/json_reader.h"

namespace {

using tallywire::block_stream;

constexpr std::size_t block = std::size_t{1} << 16;

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// What the parser is given: every byte up to the stream's end.
std::string all_taken(block_stream& stream) {
    std::string taken;
    while (!stream.at_end()) {
        taken.push_back(stream.Take());
    }
    return taken;
}

struct utf8_case {
    std::string name;
    std::string sequence;
    bool well_formed;
};

void PrintTo(const utf8_case& c, std::ostream* out) { *out << c.name; }

class BlockStreamUtf8 : public ::testing::TestWithParam<utf8_case> {};

// The sequence stands at each place around the first block's end, after
// ASCII; a bad one ends the stream where it starts, with every byte before
// it given to the parser.
TEST_P(BlockStreamUtf8, CheckedWhereverItLies) {
    for (const std::size_t at : {std::size_t{0}, std::size_t{100}, block - 3, block - 2, block - 1,
                                 block, block + 1}) {
        for (const bool last : {false, true}) {
            std::string input = std::string(at, 'a') + GetParam().sequence;
            if (!last) {
                input += std::string(50, 'b');
            }
            const std::unique_ptr<std::FILE, file_closer> file(
                fmemopen(input.data(), input.size(), "r"));
            ASSERT_NE(file, nullptr);
            block_stream stream(file.get());
            const std::string taken = all_taken(stream);
            SCOPED_TRACE("at " + std::to_string(at) + (last ? ", last" : ""));
            if (GetParam().well_formed) {
                EXPECT_EQ(taken, input);
                EXPECT_FALSE(stream.bad_utf8_at());
            } else {
                EXPECT_EQ(taken, input.substr(0, at));
                EXPECT_EQ(stream.bad_utf8_at(), at);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BlockStreamUtf8,
    ::testing::Values(utf8_case{"two_bytes", "\xC3\xA9", true},
                      utf8_case{"three_bytes", "\xE2\x82\xAC", true},
                      utf8_case{"four_bytes", "\xF0\x9F\x98\x80", true},
                      utf8_case{"lone_continuation", "\x80", false},
                      utf8_case{"lead_then_ascii", "\xC3(", false},
                      utf8_case{"cut_short", "\xE2\x82", false},
                      utf8_case{"overlong", "\xC0\xAF", false},
                      utf8_case{"surrogate", "\xED\xA0\x80", false},
                      utf8_case{"past_u10ffff", "\xF4\x90\x80\x80", false},
                      utf8_case{"five_byte_lead", "\xF8\x88\x80\x80\x80", false}));

struct collected_strings : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, collected_strings> {
    std::vector<std::string> strings;
    bool String(const char* text, rapidjson::SizeType length, bool) {
        strings.emplace_back(text, length);
        return true;
    }
};

// One document read with the merge's parse flags.
rapidjson::ParseResult parse_as_the_merge(block_stream& stream, collected_strings& handler) {
    rapidjson::Reader reader;
    return reader.Parse<rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseIterativeFlag>(
        stream, handler);
}

// Strings with escapes and multibyte characters, each starting a little
// before a block's end, with runs of whitespace across block ends between
// them: RapidJSON reads them as it reads them from memory.
TEST(BlockStreamJson, StringsAndWhitespaceAcrossBlockEnds) {
    const std::string written = R"(plain \"quoted\" \u00e9 and é, a \\ and \/)";
    const std::string meant = R"(plain "quoted" é and é, a \ and /)";
    std::string input = "[";
    std::size_t count = 0;
    for (std::size_t before_end = 0; before_end <= written.size() + 2; ++before_end) {
        const std::size_t next_end = (input.size() / block + 1) * block;
        input.append(next_end - before_end - input.size() - 1, count == 0 ? ' ' : '\n');
        input += (count == 0 ? " \"" : ",\"") + written + "\"";
        ++count;
    }
    input += "]";
    const std::unique_ptr<std::FILE, file_closer> file(fmemopen(input.data(), input.size(), "r"));
    ASSERT_NE(file, nullptr);
    block_stream stream(file.get());
    collected_strings handler;
    const auto parsed = parse_as_the_merge(stream, handler);
    ASSERT_FALSE(parsed.IsError()) << rapidjson::GetParseError_En(parsed.Code()) << " at "
                                   << parsed.Offset();
    EXPECT_EQ(handler.strings, std::vector<std::string>(count, meant));
    EXPECT_TRUE(stream.at_end());
}

// The hooks are what make the merge fast, and RapidJSON calls them from
// its internals: an upgrade that stops calling them would leave the merge
// right but slow, so it is caught here instead.
TEST(BlockStreamJson, RapidJsonCallsTheStreamsHooks) {
    std::string input = R"({ "key": "10.1.2.3", "label" : "a label",
        "rows": [ "x" , "y" ] })";
    const std::unique_ptr<std::FILE, file_closer> file(fmemopen(input.data(), input.size(), "r"));
    ASSERT_NE(file, nullptr);
    block_stream stream(file.get());
    collected_strings handler;
    const auto parsed = parse_as_the_merge(stream, handler);
    ASSERT_FALSE(parsed.IsError()) << rapidjson::GetParseError_En(parsed.Code());
    EXPECT_EQ(handler.strings, (std::vector<std::string>{"key", "10.1.2.3", "label", "a label", "rows", "x", "y"}));
    EXPECT_GT(stream.hook_calls.whitespace, 0u) << "RapidJSON no longer calls SkipWhitespace";
    EXPECT_GE(stream.hook_calls.strings, 7u)
        << "RapidJSON no longer calls ScanCopyUnescapedString for every name and string";
}

}  // namespace
