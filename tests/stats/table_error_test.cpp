// A table that cannot be counted into ends the run at once, with the
// message of the failing operation and status 1.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "stats_fixture.h"

namespace twstats {
namespace {

using table_error_test = stats_test;

TEST_F(table_error_test, counting_into_a_closed_table_is_a_fatal_lookup_error) {
    ASSERT_EQ(create_tables(stat_total), 0);
    close_tables();
    frame_view packet;
    EXPECT_EXIT(count_packet(stat_tables[0], table_key{2, 0}, packet),
                ::testing::ExitedWithCode(1), "^Fatal! find_entry\\(\\): Bad file descriptor\n$");
}

TEST_F(table_error_test, a_store_the_table_refuses_is_a_fatal_store_error) {
    ASSERT_EQ(create_tables(stat_total | stat_host), 0);
    frame_view packet;
    EXPECT_EXIT(count_packet(stat_tables[1], table_key{0, 0}, packet),
                ::testing::ExitedWithCode(1), "^Fatal! add_entry\\(\\): Invalid argument\n$");
}

#if !defined(__SANITIZE_ADDRESS__)
std::size_t address_space_in_use() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Leaves room for the Total table but not for the Link table's slots, and
// exits 0 when creation failed as a whole with no table left open.
[[noreturn]] void create_tables_under_a_tight_limit() {
    reset_program_state();
    const rlimit limit{address_space_in_use() + 256 * 1024, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    const int result = create_tables(stat_total | stat_link | stat_host);
    std::_Exit(result == -1 && stat_tables.empty() && stat_table_count == 0 ? 0 : 3);
}
#endif

TEST(table_creation_test, a_failed_creation_leaves_no_table_open) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#else
    EXPECT_EXIT(create_tables_under_a_tight_limit(), ::testing::ExitedWithCode(0),
                "^dbopen: Cannot allocate memory\n$");
#endif
}

// The real program under an address-space limit that leaves room to open
// and read a capture but not to grow a Host table of several hundred
// thousand entries.
TEST(table_memory_test, running_out_of_memory_while_counting_ends_with_status_1) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than any limit "
                    "this test could set";
#else
    twtest::temp_dir folder;
    const std::string tiny = folder.file("tiny.pcap");
    const std::string wide = folder.file("wide.pcap");
    std::vector<twgen::frame> frames;
    frames.push_back(tcp_frame("10.0.0.1", "10.0.0.2", 1, 2));
    twgen::write_pcap(tiny, DLT_EN10MB, 65535, frames);
    frames.clear();
    constexpr std::uint32_t distinct = 200000;
    for (std::uint32_t i = 0; i < distinct; ++i) {
        twgen::frame frame;
        frame.bytes = twgen::ethernet(station_b, station_a, twgen::ethertype_ipv4,
                                      twgen::ipv4(0x0b000000u + i, 0x0c000000u + i,
                                                  twgen::ip_icmp, twgen::icmp_echo()));
        frames.push_back(std::move(frame));
    }
    twgen::write_pcap(wide, DLT_EN10MB, 65535, frames);

    const auto run_limited = [](long kib, const std::string& file) {
        return twtest::run_program(
            "/bin/sh", {"-c", "ulimit -v " + std::to_string(kib) + " && exec \"$0\" \"$@\"",
                        twtest::tallywire_path(), "-n", "-S", "h", "-r", file});
    };
    // The least limit, in steps of 4 MiB, under which the tiny capture runs.
    long enough = 0;
    for (long kib = 8 * 1024; kib <= 512 * 1024; kib += 4 * 1024) {
        if (run_limited(kib, tiny).status == 0) {
            enough = kib;
            break;
        }
    }
    ASSERT_GT(enough, 0) << "the program did not run under any limit up to 512 MiB";

    const twtest::run_result wide_run = run_limited(enough + 8 * 1024, wide);
    EXPECT_EQ(wide_run.status, 1);
    EXPECT_EQ(wide_run.err, "Fatal! add_entry(): Cannot allocate memory\n");
    EXPECT_EQ(wide_run.out, "");
    // With room to spare the same capture is counted.
    EXPECT_EQ(run_limited(enough + 128 * 1024, wide).status, 0);
#endif
}

}  // namespace
}  // namespace twstats
