// Damaged snoop files on the real binary: every failure has its one message,
// prints no report, and exits with status 1.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "capture/source_test_support.h"
#include "support/process.h"

using namespace tallywire;

namespace {

using twtest::first_record;
using twtest::put_be32;

// Two good records, so that the damage below is always in the last one.
std::vector<std::uint8_t> intact_image() {
    auto frames = twtest::mixed_ethernet_frames();
    frames.resize(2);
    return twgen::snoop_image(frames);
}

std::size_t second_record() {
    auto frames = twtest::mixed_ethernet_frames();
    frames.resize(1);
    return twgen::snoop_image(frames).size();
}

using damage = std::function<void(std::vector<std::uint8_t>&)>;

damage cut_to(std::size_t size) {
    return [size](auto& image) { image.resize(size); };
}
damage cut_by(std::size_t bytes) {
    return [bytes](auto& image) { image.resize(image.size() - bytes); };
}
damage set_field(std::size_t offset, std::uint32_t value) {
    return [offset, value](auto& image) { put_be32(image, offset, value); };
}

struct damage_case {
    std::string name;
    damage spoil;
    std::string expected_err;
};

void PrintTo(const damage_case& c, std::ostream* out) { *out << c.name; }

constexpr const char* file_header_message = "get_snoop_data: Can't read file header\n";
constexpr const char* link_type_message = "get_snoop_data: No support for this link type (yet?)\n";
constexpr const char* packet_header_message = "get_snoop_data: Can't read packet header\n";
constexpr const char* packet_data_message = "get_snoop_data: Can't read packet data\n";
constexpr const char* record_length_message = "get_snoop_data: Bad record length\n";

std::vector<damage_case> damage_cases() {
    const std::size_t second = second_record();
    return {
        {"identification_only", cut_to(8), file_header_message},
        {"file_header_cut_short", cut_to(15), file_header_message},
        {"link_type_ieee_802_3", set_field(12, 0), link_type_message},
        {"link_type_fddi", set_field(12, 8), link_type_message},
        {"header_stored_little_endian",
         [](auto& image) {
             put_be32(image, 8, 0x02000000);
             put_be32(image, 12, 0x04000000);
         },
         link_type_message},
        {"record_header_cut_after_1_byte", cut_to(second + 1), packet_header_message},
        {"record_header_cut_after_12_bytes", cut_to(second + 12), packet_header_message},
        {"record_header_cut_after_23_bytes", cut_to(second + 23), packet_header_message},
        {"first_record_header_cut", cut_to(first_record + 5), packet_header_message},
        {"body_cut_short", cut_by(1), packet_data_message},
        {"body_missing", cut_to(second + 24), packet_data_message},
        {"record_length_past_the_end", set_field(second + 8, 24 + 4096), packet_data_message},
        {"record_length_2_gib", set_field(second + 8, 0x7fffffff), packet_data_message},
        {"record_length_4_gib", set_field(second + 8, 0xffffffff), packet_data_message},
        {"record_length_2_gib_in_the_first_record", set_field(first_record + 8, 0x80000000),
         packet_data_message},
        {"record_length_0", set_field(second + 8, 0), record_length_message},
        {"record_length_23", set_field(second + 8, 23), record_length_message},
    };
}

// Outside the sanitizer build the binary runs with its data segment capped
// far below the lengths the damaged records claim: a reader that believed
// them would fail to allocate instead of reporting the record.
bool can_cap_memory() {
#if defined(__SANITIZE_ADDRESS__)
    return false;  // the sanitizer's shadow memory alone passes any cap
#else
    return std::filesystem::exists("/usr/bin/prlimit");
#endif
}

twtest::run_result run_on(const std::string& path) {
    const std::vector<std::string> args = {"-S", "a", "-n", "-r", path};
    if (!can_cap_memory()) {
        return twtest::run_tallywire(args);
    }
    std::vector<std::string> capped = {"--data=134217728", "--", twtest::tallywire_path()};
    capped.insert(capped.end(), args.begin(), args.end());
    return twtest::run_program("/usr/bin/prlimit", capped);
}

class SnoopDamage : public ::testing::TestWithParam<damage_case> {};

TEST_P(SnoopDamage, OneMessageNoReportStatusOne) {
    twtest::temp_dir dir;
    auto image = intact_image();
    GetParam().spoil(image);
    const std::string path = dir.file("damaged.snoop");
    twgen::write_file(path, image);

    const auto result = run_on(path);
    EXPECT_EQ(result.err, GetParam().expected_err);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Files, SnoopDamage, ::testing::ValuesIn(damage_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(SnoopDamageControl, TheUndamagedFileIsReadCleanly) {
    twtest::temp_dir dir;
    const std::string path = dir.file("intact.snoop");
    twgen::write_file(path, intact_image());
    const auto result = run_on(path);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

// A record that the file really holds, but that does not fit in the memory
// the process may use, ends the reading without a message of its own.
TEST(SnoopDamageControl, RecordTooLargeForMemory) {
    if (!can_cap_memory()) {
        GTEST_SKIP() << "needs prlimit and a build without the address sanitizer";
    }
    twtest::temp_dir dir;
    const std::string path = dir.file("huge.snoop");
    auto image = intact_image();
    constexpr std::uint32_t body = 512u << 20;
    put_be32(image, second_record() + 8, 24 + body);
    twgen::write_file(path, image);
    // Sparse: the file holds the whole body without taking the disk space.
    std::filesystem::resize_file(path, second_record() + 24 + body);

    const auto result = run_on(path);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
}

}  // namespace
