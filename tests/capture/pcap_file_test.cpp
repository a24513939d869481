// Capture files are opened by tallywire and handed to libpcap with a large
// stdio buffer. What libpcap reads through it must be what libpcap reads by
// itself, frame for frame, however the records fall across the buffer's
// refills; and a file that cannot be opened is reported as libpcap would.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/source_test_support.h"
#include "capture/sources.h"
#include "cli/program_state.h"

using namespace tallywire;

namespace {

using twtest::seen_frame;

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};

// The frames as libpcap's own file reader gives them, each passed through
// decode_frame as a run would.
std::vector<seen_frame> read_by_libpcap(const std::string& path) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    std::unique_ptr<pcap_t, pcap_closer> handle(pcap_open_offline(path.c_str(), errbuf));
    EXPECT_TRUE(handle) << errbuf;
    std::vector<seen_frame> frames;
    if (!handle) {
        return frames;
    }
    capture_context context;
    context.sink = twtest::collect_frame;
    context.sink_arg = &frames;
    context.datalink = pcap_datalink(handle.get());
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(handle.get(), &header, &bytes) == 1) {
        decode_frame(reinterpret_cast<unsigned char*>(&context), header, bytes);
    }
    return frames;
}

std::vector<seen_frame> read_by_source(const std::string& path, int& result) {
    reset_program_state();
    std::vector<seen_frame> frames;
    result = run_pcap_source(twtest::file_config(path), twtest::collect_frame, &frames);
    return frames;
}

// Several megabytes of frames of every length up to a full Ethernet frame,
// so that records straddle many refills of the buffer at every offset.
TEST(PcapFiles, ALargeFileGivesTheFramesLibpcapReadsByItself) {
    const std::vector<twgen::frame> mix = twtest::mixed_ethernet_frames();
    std::vector<twgen::frame> frames;
    for (std::size_t i = 0; i < 6000; ++i) {
        twgen::frame f = mix[i % mix.size()];
        f.bytes.resize(f.bytes.size() + i % 1400, static_cast<std::uint8_t>(i));
        f.wire_length = static_cast<std::uint32_t>(f.bytes.size());
        f.seconds += static_cast<std::int64_t>(i);
        frames.push_back(std::move(f));
    }
    twtest::temp_dir dir;
    const std::string path = dir.file("large.pcap");
    twgen::write_pcap(path, DLT_EN10MB, 65535, frames);

    int result = -1;
    const std::vector<seen_frame> read = read_by_source(path, result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(read.size(), frames.size());
    EXPECT_EQ(read, read_by_libpcap(path));
}

TEST(PcapFiles, AFileThatCannotBeOpenedIsReportedWithLibpcapsText) {
    twtest::temp_dir dir;
    const std::string path = dir.file("missing.pcap");
    ::testing::internal::CaptureStderr();
    int result = 0;
    const std::vector<seen_frame> read = read_by_source(path, result);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(err, "pcap_open(): " + path + ": No such file or directory\n");
}

}  // namespace
