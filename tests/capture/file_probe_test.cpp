// The probe of a file's first eight bytes, in-process on real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "capture/sources.h"
#include "gen/capture_writer.h"
#include "support/process.h"

using namespace tallywire;

namespace {

using magic_bytes = std::array<std::uint8_t, 8>;

// A first word as this host stores it, followed by four more bytes.
magic_bytes host_order(std::uint32_t first_word) {
    magic_bytes bytes = {0, 0, 0, 0, 2, 0, 4, 0};
    std::memcpy(bytes.data(), &first_word, sizeof first_word);
    return bytes;
}

// The same first word as a host of the other byte order stores it.
magic_bytes other_order(std::uint32_t first_word) {
    magic_bytes bytes = host_order(first_word);
    std::reverse(bytes.begin(), bytes.begin() + 4);
    return bytes;
}

magic_bytes text(const char (&eight)[9]) {
    magic_bytes bytes{};
    std::memcpy(bytes.data(), eight, bytes.size());
    return bytes;
}

constexpr auto untouched = static_cast<capture_format>(0x5eed);

struct probe_case {
    const char* name;
    magic_bytes first_bytes;
    capture_format expected_code;
};

void PrintTo(const probe_case& c, std::ostream* out) { *out << c.name; }

class ProbeRecognition : public ::testing::TestWithParam<probe_case> {};

TEST_P(ProbeRecognition, WritesTheCodeOnlyForARecognisedFile) {
    const probe_case& c = GetParam();
    twtest::temp_dir dir;
    const std::string path = dir.file("capture");
    std::vector<std::uint8_t> contents(c.first_bytes.begin(), c.first_bytes.end());
    contents.resize(64, 0xee);  // what follows the magic plays no part
    twgen::write_file(path, contents);

    capture_format code = untouched;
    EXPECT_EQ(probe_file_format(path, code), 0);
    EXPECT_EQ(code, c.expected_code);
}

INSTANTIATE_TEST_SUITE_P(
    FirstBytes, ProbeRecognition,
    ::testing::Values(
        probe_case{"pcap", host_order(0xa1b2c3d4), capture_format::pcap},
        probe_case{"pcap_other_order", other_order(0xa1b2c3d4), capture_format::pcap},
        probe_case{"modified_pcap", host_order(0xa1b2cd34), capture_format::modified_pcap},
        probe_case{"modified_pcap_other_order", other_order(0xa1b2cd34), capture_format::modified_pcap},
        probe_case{"snoop", {'s', 'n', 'o', 'o', 'p', 0, 0, 0}, capture_format::snoop},
        probe_case{"nanosecond_pcap", host_order(0xa1b23c4d), capture_format::pcap},
        probe_case{"nanosecond_pcap_other_order", other_order(0xa1b23c4d), capture_format::pcap},
        probe_case{"pcapng", {0x0a, 0x0d, 0x0d, 0x0a, 0x1c, 0, 0, 0}, capture_format::pcapng},
        // Everything else leaves the preset code; the capture file reader
        // refuses it.
        probe_case{"snoop_with_a_nonzero_tail", {'s', 'n', 'o', 'o', 'p', 0, 0, 1}, untouched},
        probe_case{"snoop_in_capitals", {'S', 'N', 'O', 'O', 'P', 0, 0, 0}, untouched},
        probe_case{"snoop_code_as_a_word", host_order(0x736e6f6f), untouched},
        probe_case{"text", text("GET / HT"), untouched},
        probe_case{"zeros", {0, 0, 0, 0, 0, 0, 0, 0}, untouched}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProbeFailures, FilesShorterThanEightBytes) {
    twtest::temp_dir dir;
    const magic_bytes snoop = {'s', 'n', 'o', 'o', 'p', 0, 0, 0};
    for (std::size_t size = 0; size < 8; ++size) {
        const std::string path = dir.file("short" + std::to_string(size));
        twgen::write_file(path, std::span(snoop.data(), size));
        capture_format code = untouched;
        ::testing::internal::CaptureStderr();
        const int result = probe_file_format(path, code);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "read(): couldn't read file magic\n")
            << size << " bytes";
        EXPECT_EQ(result, -1) << size << " bytes";
        EXPECT_EQ(code, untouched) << size << " bytes";
    }
}

TEST(ProbeFailures, FileThatDoesNotOpen) {
    twtest::temp_dir dir;
    capture_format code = untouched;
    ::testing::internal::CaptureStderr();
    const int result = probe_file_format(dir.file("absent"), code);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "open(): No such file or directory\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(code, untouched);
}

}  // namespace
