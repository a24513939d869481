// tallywire's own capture file reader against libpcap, the reader it
// replaces for files: on every capture of the test data and of the
// generator (every link type, frames cut inside every header, short snap
// lengths), in classic, nanosecond and modified pcap of either byte order
// and in pcapng of either byte order with every packet block type and
// timestamp resolution, both yield the same frames: link type, captured
// bytes, wire length and timestamp. The reader is run on the file mapped
// and through a buffer too small for most records.

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/buffered_input.h"
#include "capture/byte_source.h"
#include "capture/capture_file_reader.h"
#include "capture/capture_images.h"
#include "capture/source_test_support.h"
#include "capture/file_descriptor.h"
#include "capture/link_type_numbers.h"
#include "capture/mapped_file.h"
#include "capture/record_input.h"
#include "gen/capture_writer.h"
#include "support/process.h"

using namespace tallywire;

namespace {

struct record {
    int datalink = 0;
    std::vector<std::uint8_t> bytes;
    std::uint32_t wire_length = 0;
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0;
    bool operator==(const record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const record& r) {
    return out << "{dlt " << r.datalink << " caplen " << r.bytes.size() << " len "
               << r.wire_length << " ts " << r.seconds << "." << r.microseconds << "}";
}

struct reading {
    std::vector<record> records;
    bool damaged = false;
};

reading through_libpcap(const std::string& path) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_open_offline(path.c_str(), errbuf);
    EXPECT_NE(handle, nullptr) << errbuf;
    reading result;
    if (handle == nullptr) {
        return result;
    }
    pcap_pkthdr* header = nullptr;
    const unsigned char* data = nullptr;
    int status = 0;
    while ((status = pcap_next_ex(handle, &header, &data)) == 1) {
        result.records.push_back({pcap_datalink(handle),
                                  std::vector<std::uint8_t>(data, data + header->caplen),
                                  header->len, header->ts.tv_sec, header->ts.tv_usec});
    }
    result.damaged = status == PCAP_ERROR;
    pcap_close(handle);
    return result;
}

reading through_reader(record_input& input) {
    capture_file_reader reader(input);
    reading result;
    EXPECT_TRUE(reader.open()) << reader.problem();
    file_frame frame;
    file_read found;
    while ((found = reader.next(frame)) == file_read::frame) {
        result.records.push_back({frame.datalink,
                                  std::vector<std::uint8_t>(frame.bytes.begin(), frame.bytes.end()),
                                  frame.wire_length, frame.timestamp.seconds,
                                  frame.timestamp.microseconds});
    }
    result.damaged = found == file_read::damaged;
    return result;
}

reading mapped(const std::string& path) {
    const file_descriptor file = open_for_reading(path);
    mapped_file mapping(file.get());
    EXPECT_FALSE(mapping.empty());
    record_input input(mapping.bytes());
    return through_reader(input);
}

reading buffered(const std::string& path) {
    const file_descriptor file = open_for_reading(path);
    descriptor_source source(file.get());
    buffered_input buffer(source, 64);
    record_input input(buffer);
    return through_reader(input);
}

void expect_same_frames(const std::string& path) {
    SCOPED_TRACE(path);
    const reading reference = through_libpcap(path);
    ASSERT_FALSE(reference.records.empty());
    for (const auto& own : {mapped(path), buffered(path)}) {
        EXPECT_EQ(own.damaged, reference.damaged);
        ASSERT_EQ(own.records.size(), reference.records.size());
        for (std::size_t i = 0; i < own.records.size(); ++i) {
            ASSERT_EQ(own.records[i], reference.records[i]) << "frame " << i;
        }
    }
}

twtest::run_result gen(const std::vector<std::string>& args) {
    return twtest::run_program(TALLYWIRE_GEN_BINARY, args);
}

class FileReaderDifferential : public ::testing::Test {
protected:
    // A generator capture of the link type, half its frames cut short.
    std::string generated(const std::string& link, const std::string& snap = "65535") {
        const std::string path = dir_.file(link + "-" + snap + ".pcap");
        const auto run = gen({"-o", path, "-n", "300", "-l", link, "-s", snap, "-S", "23",
                              "--cut-frames", "--vary-framing", "-w", "dot1q=5", "-w", "mpls=3"});
        EXPECT_EQ(run.status, 0) << run.err;
        return path;
    }

    std::string write(const std::string& name, const twtest::image_bytes& image) {
        const std::string path = dir_.file(name);
        twgen::write_file(path, image);
        return path;
    }

    twtest::temp_dir dir_;
};

const std::vector<std::string> generator_links = {"null", "ether", "ppp", "ppp-serial", "loop",
                                                  "sll",  "sll2",  "raw", "ipv4",       "ipv6"};

TEST_F(FileReaderDifferential, TheSampleCapture) {
    expect_same_frames(std::string(TALLYWIRE_SOURCE_DIR) + "/data/sample.pcap");
}

TEST_F(FileReaderDifferential, EveryGeneratorLinkTypeAndSnapLength) {
    for (const std::string& link : generator_links) {
        expect_same_frames(generated(link));
    }
    expect_same_frames(generated("ether", "60"));
    expect_same_frames(generated("ipv6", "41"));
}

TEST_F(FileReaderDifferential, OtherByteOrderModifiedAndNanosecondPcap) {
    for (const std::string& link : {std::string("ether"), std::string("sll"), std::string("raw")}) {
        const auto image = twgen::read_file(generated(link));
        expect_same_frames(write(link + "-swapped.pcap", twtest::other_order_of(image)));
        expect_same_frames(write(link + "-modified.pcap", twtest::modified_of(image)));
        expect_same_frames(
            write(link + "-modified-swapped.pcap", twtest::modified_of(twtest::other_order_of(image))));
    }
    const std::string nano = dir_.file("nano.pcap");
    twtest::write_nanosecond_pcap(nano, DLT_EN10MB, twtest::mixed_ethernet_frames());
    expect_same_frames(nano);
    expect_same_frames(write("nano-swapped.pcap", twtest::other_order_of(twgen::read_file(nano))));
}

// Records that claim more than the snap length are cut to it, and older
// versions' swapped lengths are put right, as libpcap does.
TEST_F(FileReaderDifferential, CapturedBeyondTheSnapLengthAndOldVersions) {
    auto image = twgen::read_file(generated("ether"));
    const std::uint32_t short_snap = 40;
    std::memcpy(image.data() + 16, &short_snap, 4);
    expect_same_frames(write("beyond-snap.pcap", image));
    for (const std::uint16_t minor : {0, 2, 3}) {
        auto old = twgen::read_file(generated("ether"));
        std::memcpy(old.data() + 6, &minor, 2);
        expect_same_frames(write("minor-" + std::to_string(minor) + ".pcap", old));
    }
}

TEST_F(FileReaderDifferential, PcapngOfEitherByteOrder) {
    const auto frames = twtest::mixed_ethernet_frames();
    expect_same_frames(write("host.pcapng", twtest::pcapng_of(1, frames)));
    expect_same_frames(write("other.pcapng", twtest::pcapng_of(1, frames, true)));
}

// Resolutions of powers of ten and of two, above and below microseconds,
// and an offset in seconds; every packet block type; blocks of other types
// between them; a snap length that cuts the simple blocks' frames.
TEST_F(FileReaderDifferential, PcapngTimestampsBlocksAndSnapLengths) {
    const auto frames = twtest::mixed_ethernet_frames();
    const std::uint64_t stamp = 0x0001234567890abcull;
    for (const std::uint8_t tsresol : {0, 3, 6, 9, 19, 0x80, 0x8a, 0x94, 0xbf}) {
        for (const bool other : {false, true}) {
            SCOPED_TRACE("if_tsresol " + std::to_string(tsresol));
            twtest::pcapng_image image(other);
            image.other_block(0xbad, 12);
            // libpcap reads only interfaces of one link type and snap length.
            image.interface(1, 0, tsresol, 1000);
            image.interface(1, 0);
            for (std::size_t i = 0; i < frames.size(); ++i) {
                image.packet(static_cast<std::uint32_t>(i % 2), frames[i].bytes,
                             static_cast<std::uint32_t>(frames[i].bytes.size() + i), stamp * (i + 1),
                             i % 3 == 2 ? twtest::packet_block::obsolete
                                        : twtest::packet_block::enhanced);
                image.other_block(5, 7);  // an interface statistics block
            }
            expect_same_frames(write("resolution.pcapng", image.bytes));
        }
    }
    twtest::pcapng_image simple;
    simple.interface(1, 64);
    for (const auto& f : frames) {
        simple.packet(0, std::span(f.bytes).first(std::min<std::size_t>(f.bytes.size(), 64)),
                      static_cast<std::uint32_t>(f.bytes.size()), 0, twtest::packet_block::simple);
    }
    expect_same_frames(write("simple.pcapng", simple.bytes));
}

// Files cut anywhere: the frames before the cut, then the same verdict.
TEST_F(FileReaderDifferential, EveryCutOfASmallFile) {
    const auto frames = twtest::mixed_ethernet_frames();
    for (const auto& whole :
         {twgen::read_file(generated("ether")), twtest::pcapng_of(1, std::span(frames).first(6))}) {
        const std::size_t step = whole.size() > 4000 ? 97 : 1;
        for (std::size_t length = 48; length < std::min<std::size_t>(whole.size(), 4000);
             length += step) {
            SCOPED_TRACE("cut at " + std::to_string(length));
            const std::string path =
                write("cut", twtest::image_bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
            const reading reference = through_libpcap(path);
            for (const auto& own : {mapped(path), buffered(path)}) {
                ASSERT_EQ(own.records, reference.records);
                ASSERT_EQ(own.damaged, reference.damaged);
            }
        }
    }
}

// The link type numbers of files against libpcap's, value by value.
TEST(LinkTypeNumbers, EveryValueMapsAsLibpcapMapsIt) {
    for (std::uint32_t linktype = 0; linktype < 70000; linktype += linktype < 1024 ? 1 : 37) {
        const std::uint32_t header[6] = {0xa1b2c3d4, 0x00040002, 0, 0, 65535, linktype};
        std::FILE* file = fmemopen(const_cast<std::uint32_t*>(header), sizeof header, "rb");
        ASSERT_NE(file, nullptr);
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* handle = pcap_fopen_offline(file, errbuf);
        ASSERT_NE(handle, nullptr) << errbuf;
        EXPECT_EQ(datalink_of_linktype(linktype), pcap_datalink(handle)) << linktype;
        pcap_close(handle);
    }
}

}  // namespace
