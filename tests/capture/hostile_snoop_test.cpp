// Damaged snoop files through the real binary: every way of cutting a file
// short, every extreme value of every length and type field. Each run must
// end with its report, or with the one message that fits and status 1.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/hostile_runs.h"

namespace {

using hostile::outcome;

// Offsets within a record header.
constexpr std::size_t wire_length_field = 0;
constexpr std::size_t included_length_field = 4;
constexpr std::size_t record_length_field = 8;

const std::string no_magic = "read(): couldn't read file magic\n";
const std::string bad_file_header = "get_snoop_data: Can't read file header\n";
const std::string bad_link_type = "get_snoop_data: No support for this link type (yet?)\n";
const std::string bad_packet_header = "get_snoop_data: Can't read packet header\n";
const std::string bad_packet_data = "get_snoop_data: Can't read packet data\n";

struct expectation {
    outcome shape;
    std::string err;            // the whole of stderr, for failures
    std::uint64_t packets = 0;  // Total packets, for reports
};

// What a file cut after `length` bytes must give: the probe wants 8 bytes,
// the reader a whole file header, then whole records.
expectation cut_expectation(std::size_t length, const std::vector<std::size_t>& starts) {
    if (length < 8) {
        return {outcome::failure, no_magic};
    }
    if (length < hostile::snoop_layout.file_header) {
        return {outcome::failure, bad_file_header};
    }
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (length == starts[i]) {
            return i == 0 ? expectation{outcome::no_packets, ""} : expectation{outcome::report, "", i};
        }
        if (i + 1 < starts.size() && length < starts[i + 1]) {
            return {outcome::failure,
                    length < starts[i] + hostile::snoop_layout.record_header ? bad_packet_header : bad_packet_data};
        }
    }
    return {outcome::report, "", starts.size() - 1};
}

class hostile_snoop : public hostile::damaged_capture_test {
protected:
    const std::vector<twgen::frame> frames_ = hostile::small_frames();
    const std::vector<std::uint8_t> image_ = twgen::snoop_image(frames_);
    const std::vector<std::size_t> starts_ = hostile::record_starts(hostile::snoop_layout, frames_);
};

TEST_F(hostile_snoop, every_cut_ends_with_the_message_of_its_place) {
    ASSERT_EQ(starts_.back(), image_.size());
    for (std::size_t length = 0; length <= image_.size(); ++length) {
        SCOPED_TRACE("file cut after " + std::to_string(length) + " bytes");
        const auto r = run_image(std::span(image_).first(length));
        const expectation want = cut_expectation(length, starts_);
        ASSERT_EQ(hostile::classify(r), want.shape) << hostile::describe(r);
        if (want.shape == outcome::failure) {
            EXPECT_EQ(r.err, want.err);
        }
        if (want.shape == outcome::report) {
            const auto total = twtest::total_row(r.out);
            ASSERT_TRUE(total) << r.out;
            EXPECT_EQ(total->packets, want.packets);
        }
    }
}

TEST_F(hostile_snoop, only_link_type_4_is_read) {
    for (const std::uint32_t link_type : hostile::extreme_values) {
        SCOPED_TRACE("link type " + std::to_string(link_type));
        const auto r = run_with_field(image_, hostile::put_big32, 12, link_type);
        ASSERT_EQ(hostile::classify(r), outcome::failure) << hostile::describe(r);
        EXPECT_EQ(r.err, bad_link_type);
    }
}

// The decoder is told at most the body's size, whatever the record claims.
TEST_F(hostile_snoop, included_length_never_reaches_past_the_body) {
    for (const std::uint32_t included : hostile::extreme_values) {
        SCOPED_TRACE("included length " + std::to_string(included));
        const auto r = run_with_field(image_, hostile::put_big32,
                                      starts_[0] + included_length_field, included);
        ASSERT_EQ(hostile::classify(r), outcome::report) << hostile::describe(r);
        const auto total = twtest::total_row(r.out);
        ASSERT_TRUE(total) << r.out;
        EXPECT_EQ(total->packets, frames_.size());
    }
}

TEST_F(hostile_snoop, wire_length_is_counted_as_it_stands) {
    for (const std::uint32_t wire : hostile::extreme_values) {
        SCOPED_TRACE("wire length " + std::to_string(wire));
        auto image = image_;
        std::uint64_t expected_bytes = 0;
        for (std::size_t i = 0; i + 1 < starts_.size(); ++i) {
            hostile::put_big32(image, starts_[i] + wire_length_field, wire);
            expected_bytes += wire;
        }
        const auto r = run_image(image);
        ASSERT_EQ(hostile::classify(r), outcome::report) << hostile::describe(r);
        const auto total = twtest::total_row(r.out);
        ASSERT_TRUE(total) << r.out;
        EXPECT_EQ(total->packets, frames_.size());
        EXPECT_TRUE(hostile::shows_total_bytes(r.out, expected_bytes)) << r.out;
    }
}

// Lengths below the header itself, a header with no body, and lengths that
// run far past the end of the file: never a negative or an unbacked size.
TEST_F(hostile_snoop, record_length_is_never_trusted_beyond_the_file) {
    for (const std::uint32_t record_length : hostile::extreme_values) {
        SCOPED_TRACE("record length " + std::to_string(record_length));
        const auto r = run_with_field(image_, hostile::put_big32,
                                      starts_[0] + record_length_field, record_length);
        const outcome shape = hostile::classify(r);
        ASSERT_TRUE(shape == outcome::report || shape == outcome::failure) << hostile::describe(r);
        EXPECT_LT(r.max_rss_kib, hostile::bounded_rss_kib) << hostile::describe(r);
        if (record_length > image_.size()) {
            EXPECT_EQ(r.err, bad_packet_data);
        }
    }
}

TEST_F(hostile_snoop, empty_and_link_header_sized_frames_are_counted) {
    const std::vector<twgen::frame> frames = {
        {{}, 60, 1, 0},
        {twgen::filler(14, 0xff), 64, 2, 0},
        {twgen::filler(13, 0x08), 0, 3, 0},
    };
    const auto r = run_image(twgen::snoop_image(frames));
    ASSERT_EQ(hostile::classify(r), outcome::report) << hostile::describe(r);
    const auto total = twtest::total_row(r.out);
    ASSERT_TRUE(total) << r.out;
    EXPECT_EQ(total->packets, 3u);
    EXPECT_EQ(total->bytes, 60u + 64u + 13u);
}

}  // namespace
