// Damaged pcap files through the real binary and libpcap: every way of
// cutting a file short, extreme values in the file and record headers, and
// frames too short for their link header. Each run must end with its report,
// or with a message and status 1.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/hostile_runs.h"

namespace {

using hostile::outcome;

// Offsets within the file header and a record header.
constexpr std::size_t snaplen_field = 16;
constexpr std::size_t linktype_field = 20;
constexpr std::size_t caplen_field = 8;
constexpr std::size_t len_field = 12;

std::uint64_t wire_bytes(const std::vector<twgen::frame>& frames) {
    std::uint64_t sum = 0;
    for (const twgen::frame& f : frames) {
        sum += f.wire_length != 0 ? f.wire_length : f.bytes.size();
    }
    return sum;
}

class hostile_pcap : public hostile::damaged_capture_test {
protected:
    std::vector<std::uint8_t> pcap_image(int datalink, const std::vector<twgen::frame>& frames) {
        const std::string path = dir_.file("clean.pcap");
        twgen::write_pcap(path, datalink, 65535, frames);
        return twgen::read_file(path);
    }

    // A run that must report every frame with its wire length.
    void expect_full_report(const std::vector<std::uint8_t>& image,
                            const std::vector<twgen::frame>& frames) {
        const auto r = run_image(image);
        ASSERT_EQ(hostile::classify(r), outcome::report) << hostile::describe(r);
        const auto total = twtest::total_row(r.out);
        ASSERT_TRUE(total) << r.out;
        EXPECT_EQ(total->packets, frames.size());
        EXPECT_TRUE(hostile::shows_total_bytes(r.out, wire_bytes(frames))) << r.out;
    }

    const std::vector<twgen::frame> frames_ = hostile::small_frames();
    const std::vector<std::uint8_t> image_ = pcap_image(DLT_EN10MB, frames_);
    const std::vector<std::size_t> starts_ = hostile::record_starts(hostile::pcap_layout, frames_);
};

// Fields libpcap may refuse: at the open (a message, status 1) or at the
// record (its message, then the report of what came before).
bool ends_acceptably(const twtest::run_result& r) {
    const outcome shape = hostile::classify(r);
    return shape == outcome::report || shape == outcome::failure || shape == outcome::damaged;
}

bool is_record_start(const std::vector<std::size_t>& starts, std::size_t length) {
    return std::find(starts.begin(), starts.end(), length) != starts.end();
}

// A file cut inside a record: libpcap's message, then the report of the
// whole records before the cut.
TEST_F(hostile_pcap, every_cut_ends_with_a_report_or_a_message) {
    ASSERT_EQ(starts_.back(), image_.size());
    for (std::size_t length = 0; length <= image_.size(); ++length) {
        SCOPED_TRACE("file cut after " + std::to_string(length) + " bytes");
        const auto r = run_image(std::span(image_).first(length));
        const outcome shape = hostile::classify(r);
        if (length < 8) {
            ASSERT_EQ(shape, outcome::failure) << hostile::describe(r);
            EXPECT_EQ(r.err, "read(): couldn't read file magic\n");
        } else if (length < hostile::pcap_layout.file_header) {
            ASSERT_EQ(shape, outcome::failure) << hostile::describe(r);
            EXPECT_TRUE(r.err.starts_with("pcap_open(): ")) << r.err;
        } else if (length == hostile::pcap_layout.file_header) {
            EXPECT_EQ(shape, outcome::no_packets) << hostile::describe(r);
        } else if (is_record_start(starts_, length)) {
            ASSERT_EQ(shape, outcome::report) << hostile::describe(r);
            const auto whole = static_cast<std::uint64_t>(
                std::find(starts_.begin(), starts_.end(), length) - starts_.begin());
            const auto total = twtest::total_row(r.out);
            ASSERT_TRUE(total) << r.out;
            EXPECT_EQ(total->packets, whole);
        } else {
            ASSERT_EQ(shape, outcome::damaged) << hostile::describe(r);
            const auto whole = static_cast<std::uint64_t>(
                std::upper_bound(starts_.begin(), starts_.end(), length) - starts_.begin() - 1);
            if (whole == 0) {
                EXPECT_TRUE(r.out.empty()) << r.out;
            } else {
                const auto total = twtest::total_row(r.out);
                ASSERT_TRUE(total) << r.out;
                EXPECT_EQ(total->packets, whole);
            }
        }
    }
}

// libpcap takes a snap length of 0 or beyond its maximum as its maximum,
// and cuts longer records to a smaller one: every frame is still counted.
TEST_F(hostile_pcap, any_snap_length_counts_every_frame) {
    for (const std::uint32_t snaplen : hostile::extreme_values) {
        SCOPED_TRACE("snap length " + std::to_string(snaplen));
        auto image = image_;
        hostile::put_host32(image, snaplen_field, snaplen);
        expect_full_report(image, frames_);
    }
}

TEST_F(hostile_pcap, any_link_type_reports_or_is_refused) {
    for (const std::uint32_t linktype : hostile::extreme_values) {
        SCOPED_TRACE("link type " + std::to_string(linktype));
        const auto r = run_with_field(image_, hostile::put_host32, linktype_field, linktype);
        ASSERT_TRUE(ends_acceptably(r)) << hostile::describe(r);
    }
}

TEST_F(hostile_pcap, any_captured_length_reports_or_is_refused) {
    for (const std::uint32_t caplen : hostile::extreme_values) {
        SCOPED_TRACE("captured length " + std::to_string(caplen));
        const auto r =
            run_with_field(image_, hostile::put_host32, starts_[0] + caplen_field, caplen);
        ASSERT_TRUE(ends_acceptably(r)) << hostile::describe(r);
        EXPECT_LT(r.max_rss_kib, hostile::bounded_rss_kib) << hostile::describe(r);
    }
}

TEST_F(hostile_pcap, wire_length_is_counted_as_it_stands) {
    for (const std::uint32_t len : hostile::extreme_values) {
        SCOPED_TRACE("wire length " + std::to_string(len));
        auto frames = frames_;
        auto image = image_;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            hostile::put_host32(image, starts_[i] + len_field, len);
            frames[i].wire_length = len;
            if (len == 0) {
                frames[i].bytes.clear();  // wire_bytes() would count the captured bytes
            }
        }
        expect_full_report(image, frames);
    }
}

// More captured than the wire carried, and more than the file's snap length:
// the wire length is what counts, and the frame is read no further than
// libpcap delivers.
TEST_F(hostile_pcap, captured_length_beyond_wire_and_snap_length) {
    auto frames = frames_;
    auto image = image_;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        hostile::put_host32(image, starts_[i] + len_field, 10);
        frames[i].wire_length = 10;
    }
    expect_full_report(image, frames);
    hostile::put_host32(image, snaplen_field, 20);
    expect_full_report(image, frames);
}

// Every data-link type the decoder knows, and one it does not: frames of no
// bytes, one byte short of the link header, and exactly the link header.
TEST_F(hostile_pcap, frames_no_longer_than_the_link_header_are_counted) {
    struct link_case {
        int datalink;
        std::size_t link_header;
    };
    for (const link_case c : {link_case{DLT_NULL, 4}, link_case{DLT_EN10MB, 14},
                              link_case{DLT_PPP, 4}, link_case{DLT_RAW, 0}}) {
        SCOPED_TRACE("data-link type " + std::to_string(c.datalink));
        std::vector<twgen::frame> frames = {{{}, 60, 1, 0}};
        if (c.link_header > 0) {
            frames.push_back({twgen::filler(c.link_header - 1, 0x08), 61, 2, 0});
        }
        frames.push_back({twgen::filler(c.link_header, 0x08), 62, 3, 0});
        expect_full_report(pcap_image(c.datalink, frames), frames);
    }
}

}  // namespace
