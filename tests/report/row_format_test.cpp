// Report line layout and the label of every kind, printed from rows built by
// hand.


#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/program_state.h"
#include "report/row_format.h"
#include "row_printing.h"
#include "report/row_labels.h"
#include "report_text.h"

using namespace tallywire;

namespace {

using report_test::expected_line;
using report_test::written_by;

std::string line_of(std::string_view name, std::string_view suffix, std::uint64_t packets,
                    std::uint64_t bytes, double percent) {
    return written_by([&](std::FILE* out) { report_test::print_row(name, suffix, packets, bytes, percent, out); });
}

TEST(PrintRow, LaysOutTheFiveFields) {
    struct line_case {
        const char* what;
        std::string name, suffix;
        std::uint64_t packets, bytes;
        double percent;
        std::string expected;
    };
    const std::vector<line_case> cases = {
        {"short label padded to 25", "Total", "", 3, 180, 100.0,
         "\tTotal                    3         180       100.0000 %\n"},
        {"suffix after the blank", "http (80)", "> ", 1, 60, 5.0,
         "\thttp (80) >              1         60        5.0000 %\n"},
        {"26-character label pushes the line right", "Ethernet (AppleTalk ARP):", "", 2, 120, 50.0,
         "\tEthernet (AppleTalk ARP): 2         120       50.0000 %\n"},
        {"nine digits fit the column", "Total", "", 123456789, 987654321, 100.0,
         "\tTotal                    123456789 987654321 100.0000 %\n"},
        {"ten digits keep a blank after them", "Total", "", 1234567890, 9876543210, 100.0,
         "\tTotal                    1234567890 9876543210 100.0000 %\n"},
        {"eleven digits too", "Total", "", 12345678901, 98765432109, 100.0,
         "\tTotal                    12345678901 98765432109 100.0000 %\n"},
        {"largest counts are not cut", "x", "", 18446744073709551615u, 18446744073709551615u,
         100.0, "\tx                        18446744073709551615 18446744073709551615 100.0000 %\n"},
        {"percent rounds to four places", "x", "", 1, 1, 33.333333333,
         "\tx                        1         1         33.3333 %\n"},
        {"small percent keeps its leading zero", "x", "", 1, 1, 0.00005,
         "\tx                        1         1         0.0001 %\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(line_of(c.name, c.suffix, c.packets, c.bytes, c.percent), c.expected) << c.what;
    }
}

TEST(PrintRow, SameTextAsThePrintfFormat) {
    // The line is assembled by hand; printf with the classic format, given
    // the label as "%s %s" makes it, and a blank kept after a count of ten
    // digits or more, is the reference for every value a row can hold.
    std::mt19937_64 random(11);
    const std::vector<std::pair<std::string, std::string>> labels = {
        {"", ""}, {"x", ""}, {"Total", ""}, {std::string(22, 'h'), "> "},
        {std::string(23, 'h'), ""}, {std::string(24, 'h'), ""}, {std::string(25, 'h'), ""},
        {std::string(24, 'h'), "< "}, {std::string(40, 'h'), ""}};
    const double zero = 0.0;
    std::vector<double> percents = {0.0,  100.0, 99.99995, 0.00005, 0.00015, 12.5,
                                    1e-300, 1e300, zero / zero, -(zero / zero), 1.0 / zero,
                                    // exact halves of the last place round to even
                                    0.03125, 0.09375, 0.15625, 4294967295.03125,
                                    std::nextafter(0.03125, 1.0), std::nextafter(0.03125, 0.0),
                                    -0.0, -12.5, 5e-324, 4294967296.0, 1e-5, 0.99999995};
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t total = random() >> (random() % 64);
        const std::uint64_t bytes = total == 0 ? 0 : random() % total;
        percents.push_back(row_percent(bytes, total));
    }
    std::size_t n = 0;
    for (const double percent : percents) {
        const auto& [name, suffix] = labels[n++ % labels.size()];
        const std::uint64_t packets = random() >> (random() % 64);
        const std::uint64_t bytes = random() >> (random() % 64);
        const std::string label = name + " " + suffix;
        std::array<char, 2048> reference{};
        std::snprintf(reference.data(), reference.size(), "\t%-*s%-9llu %-9llu %-5.4f %%\n", 25,
                      label.c_str(), static_cast<unsigned long long>(packets),
                      static_cast<unsigned long long>(bytes), percent);
        ASSERT_EQ(line_of(name, suffix, packets, bytes, percent), reference.data())
            << "percent " << percent;
    }
}

TEST(PrintRow, ZeroTotalShowsPrintfsNotANumber) {
    const std::string line = line_of("Total", "", 4, 0, row_percent(0, 0));
    const std::string head = "\tTotal                    4         0         ";
    ASSERT_EQ(line.substr(0, head.size()), head);
    const std::string rest = line.substr(head.size());
    EXPECT_TRUE(rest == "-nan  %\n" || rest == "nan   %\n") << rest;
}

TEST(PrintRow, OverlongNameIsCutAtTheLabelBuffer) {
    const std::string name(5000, 'n');
    const std::string line = line_of(name, "> ", 1, 2, 3.0);
    // 1023 characters of label and its terminating zero fill the buffer; the
    // blank and the mark fall off.
    EXPECT_EQ(line, "\t" + std::string(1023, 'n') + "1         2         3.0000 %\n");
}

class PrintRows : public ::testing::Test {
protected:
    void SetUp() override { reset_program_state(); }
    void TearDown() override { reset_program_state(); }

    std::string rows_text(std::uint32_t kind, std::vector<report_row> rows, std::uint64_t total,
                          std::uint32_t count = ~0u) const {
        const std::uint32_t n = count == ~0u ? static_cast<std::uint32_t>(rows.size()) : count;
        return written_by([&](std::FILE* out) { report_test::print_rows(kind, n, rows, total, labels, out); });
    }

    label_settings labels;
};

report_row row(std::uint32_t value, std::uint64_t bytes, std::uint64_t packets,
               std::int8_t direction = 0) {
    return report_row{table_key{value, direction}, bytes, packets};
}

TEST_F(PrintRows, NetworksAreDottedWithZeroHostPart) {
    // Classful network numbers as the accounting derives them.
    const std::vector<std::pair<std::uint32_t, std::string>> networks = {
        {10, "10.0.0.0"},              // from 10.1.2.3
        {127, "127.0.0.0"},            // from 127.0.0.1
        {172 * 256 + 16, "172.16.0.0"},  // from 172.16.5.4
        {(192u << 16) | (168u << 8) | 1u, "192.168.1.0"},  // from 192.168.1.7
        {(224u << 16) | 1u, "224.0.1.0"},                  // from 224.0.1.1
    };
    for (const bool no_resolve : {false, true}) {
        labels.no_resolve = no_resolve;
        for (const auto& [value, dotted] : networks) {
            EXPECT_EQ(rows_text(stat_network, {row(value, 50, 1)}, 100),
                      expected_line(dotted + " ", 1, 50, 100))
                << dotted << (no_resolve ? " under -n" : "");
        }
    }
}

TEST_F(PrintRows, CountSelectsLeadingRows) {
    labels.no_resolve = true;
    const std::vector<report_row> rows = {row(1, 60, 1), row(2, 30, 1), row(3, 10, 1)};
    EXPECT_EQ(rows_text(stat_port, rows, 100, 0), "");
    EXPECT_EQ(rows_text(stat_port, rows, 100, 2),
              expected_line("1 ", 1, 60, 100) + expected_line("2 ", 1, 30, 100));
    // More asked for than there are: the rows there are.
    EXPECT_EQ(rows_text(stat_port, rows, 100, 7).size(), rows_text(stat_port, rows, 100).size());
    EXPECT_EQ(rows_text(0x40, rows, 100), "") << "no such kind";
}

TEST_F(PrintRows, ResolvedHostFromTheHostsFile) {
    // The official name is the first name on the first 127.0.0.1 line.
    std::ifstream hosts("/etc/hosts");
    std::string line, name;
    while (name.empty() && std::getline(hosts, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address;
        if (words >> address && address == "127.0.0.1") {
            words >> name;
        }
    }
    if (name.empty()) {
        GTEST_SKIP() << "/etc/hosts names no host for 127.0.0.1";
    }
    const std::uint32_t loopback = report_test::host_value("127.0.0.1");
    EXPECT_EQ(rows_text(stat_host, {row(loopback, 60, 1)}, 100),
              expected_line(name.substr(0, 24) + " ", 1, 60, 100));
    labels.direction_split = true;
    EXPECT_EQ(rows_text(stat_host, {row(loopback, 60, 1, 1)}, 100),
              expected_line(name.substr(0, 22) + " < ", 1, 60, 100));
    labels.no_resolve = true;
    EXPECT_EQ(rows_text(stat_host, {row(loopback, 60, 1, 0)}, 100),
              expected_line("127.0.0.1 > ", 1, 60, 100));
}

}  // namespace
