// Reports that cover only the frames before a read error: libpcap's
// message, the report of those frames byte for byte, and status 2, so that
// a script can tell them from whole ones. A damaged snoop file still fails
// without a report.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "capture/source_test_support.h"
#include "gen/capture_writer.h"
#include "support/process.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr const char* no_packets = "No packets processed.\n";

// Link types as capture files number them (LINKTYPE_), not as DLT_ values.
constexpr std::uint16_t linktype_ethernet = 1;
constexpr std::uint16_t linktype_raw = 101;

// pcapng blocks in this host's byte order, as libpcap writes them.
class pcapng_writer {
public:
    pcapng_writer() {
        block(0x0a0d0d0a, [&] {
            put32(0x1a2b3c4d);
            put16(1);
            put16(0);
            put32(0xffffffff);  // section length unknown: -1 as 64 bits
            put32(0xffffffff);
        });
    }

    void interface(std::uint16_t link_type, std::uint32_t snap_length) {
        block(1, [&] {
            put16(link_type);
            put16(0);
            put32(snap_length);
        });
    }

    void packet(std::uint32_t interface_id, std::span<const std::uint8_t> frame) {
        block(6, [&] {
            put32(interface_id);
            put32(0);
            put32(1);
            put32(static_cast<std::uint32_t>(frame.size()));
            put32(static_cast<std::uint32_t>(frame.size()));
            image.insert(image.end(), frame.begin(), frame.end());
            image.resize((image.size() + 3) & ~std::size_t{3}, 0);
        });
    }

    bytes image;

private:
    template <class Body>
    void block(std::uint32_t type, Body body) {
        const std::size_t start = image.size();
        put32(type);
        put32(0);  // the length, written once the body is known
        body();
        const auto length = static_cast<std::uint32_t>(image.size() - start + 4);
        std::memcpy(image.data() + start + 4, &length, sizeof length);
        put32(length);
    }
    void put16(std::uint16_t value) { put_bytes(&value, sizeof value); }
    void put32(std::uint32_t value) { put_bytes(&value, sizeof value); }
    void put_bytes(const void* data, std::size_t size) {
        const auto* first = static_cast<const std::uint8_t*>(data);
        image.insert(image.end(), first, first + size);
    }
};

class ReadErrorStatus : public ::testing::Test {
protected:
    // The report of a clean pcap file holding the frames.
    std::string report_of(std::span<const twgen::frame> frames) {
        const std::string path = dir_.file("reference.pcap");
        twgen::write_pcap(path, DLT_EN10MB, 65535, frames);
        const auto run = twtest::run_tallywire({"-S", "a", "-n", "-r", path});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    twtest::run_result run_image(const bytes& image) {
        const std::string path = dir_.file("damaged");
        twgen::write_file(path, image);
        return twtest::run_tallywire({"-S", "a", "-n", "-r", path});
    }

    const std::vector<twgen::frame> frames_ = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir_;
};

TEST_F(ReadErrorStatus, PcapCutInsideARecordIsTwoAfterItsReport) {
    const std::string whole = dir_.file("whole.pcap");
    twgen::write_pcap(whole, DLT_EN10MB, 65535, frames_);
    bytes image = twgen::read_file(whole);
    image.resize(image.size() - 3);

    const auto run = run_image(image);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("pcap_dispatch(): ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, report_of(std::span(frames_).first(frames_.size() - 1)));
}

TEST_F(ReadErrorStatus, PcapCutInsideTheFirstRecordIsTwoWithNoPackets) {
    const std::string whole = dir_.file("whole.pcap");
    twgen::write_pcap(whole, DLT_EN10MB, 65535, frames_);
    bytes image = twgen::read_file(whole);
    image.resize(24 + 10);

    const auto run = run_image(image);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("pcap_dispatch(): ")) << run.err;
    EXPECT_TRUE(run.err.ends_with(std::string("\n") + no_packets)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
}

// libpcap reads a pcapng file only while every interface has the link type
// and snap length of the first; the frames before a differing one count.
TEST_F(ReadErrorStatus, PcapngThatLibpcapStopsReadingIsTwoAfterItsReport) {
    struct second_interface {
        const char* name;
        std::uint16_t link_type;
        std::uint32_t snap_length;
        const char* message;
    };
    for (const second_interface& second :
         {second_interface{"raw IP", linktype_raw, 65535, "an interface has a type 101 different"},
          second_interface{"shorter snap length", linktype_ethernet, 128,
                           "an interface has a snapshot length 128 different"}}) {
        SCOPED_TRACE(second.name);
        pcapng_writer file;
        file.interface(linktype_ethernet, 65535);
        for (std::size_t i = 0; i < 4; ++i) {
            file.packet(0, frames_[i].bytes);
        }
        file.interface(second.link_type, second.snap_length);
        file.packet(1, frames_[4].bytes);
        file.packet(0, frames_[5].bytes);

        const auto run = run_image(file.image);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with(std::string("pcap_dispatch(): ") + second.message))
            << run.err;
        std::vector<twgen::frame> before(frames_.begin(), frames_.begin() + 4);
        for (twgen::frame& f : before) {
            f.wire_length = 0;  // the blocks above carry the captured length as wire length
        }
        EXPECT_EQ(run.out, report_of(before));
    }
}

TEST_F(ReadErrorStatus, SnoopCutInsideARecordStillFailsWithoutAReport) {
    bytes image = twgen::snoop_image(frames_);
    image.resize(image.size() - 3);
    const auto run = run_image(image);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "get_snoop_data: Can't read packet data\n");
}

}  // namespace
