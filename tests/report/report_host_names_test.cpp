// Host names in reports, from a hosts file of the test's own: the binary runs
// in a private mount namespace where that file stands at /etc/hosts and the
// name service consults files only, so no lookup ever leaves the machine.

#include <pcap/pcap.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "office_capture.h"
#include "report_check.h"
#include "support/process.h"

namespace {

using report_test::block;
using report_test::office_total;
using report_test::report_matches;

constexpr const char* unshare_path = "/usr/bin/unshare";

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class HostNames : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(unshare_path, X_OK) != 0) {
            GTEST_SKIP() << unshare_path << " is missing (util-linux)";
        }
        const auto probe = twtest::run_program(
            unshare_path, {"-m", "sh", "-c", "mount --bind /etc/hosts /etc/hosts"});
        if (probe.status != 0) {
            GTEST_SKIP() << "a private mount namespace with a bind mount is not permitted here: "
                         << probe.err;
        }
        write_text(hosts_, "127.0.0.1 localhost\n"
                           "10.0.0.1 workstation-with-a-very-long-name.lab.example ws\n"
                           "10.0.0.2 printer\n");
        write_text(nsswitch_, "hosts: files\nservices: files\nprotocols: files\n");
        twgen::write_pcap(capture_, DLT_EN10MB, 65535, report_test::office_frames());
    }

    twtest::run_result report(const std::vector<std::string>& options) const {
        std::vector<std::string> args = {
            "-m", "sh", "-c",
            "mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" /etc/nsswitch.conf && "
            "shift 2 && exec \"$@\"",
            "sh", hosts_, nsswitch_, twtest::tallywire_path()};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("-r");
        args.push_back(capture_);
        return twtest::run_program(unshare_path, args);
    }

    twtest::temp_dir dir_;
    std::string hosts_ = dir_.file("hosts");
    std::string nsswitch_ = dir_.file("nsswitch.conf");
    std::string capture_ = dir_.file("office.pcap");
};

const report_test::expected_block office_total_block =
    block("Total", {{"Total ", 6, office_total}}, office_total);

TEST_F(HostNames, NamesStandInTheHostColumn) {
    struct host_case {
        const char* what;
        std::vector<std::string> options;
        std::vector<report_test::row_counts> rows;
    };
    const std::vector<host_case> cases = {
        // 24 characters of the long name and the blank fill the column;
        // addresses the file does not name stay dotted.
        {"names cut to 24",
         {"-S", "h"},
         {{"workstation-with-a-very- ", 4, 1564},
          {"printer ", 2, 1400},
          {"192.168.1.7 ", 1, 100},
          {"172.16.5.4 ", 1, 64}}},
        // Under the split 22 characters leave room for the mark.
        {"names cut to 22 under -d",
         {"-d", "-S", "h"},
         {{"workstation-with-a-ver > ", 2, 1100},
          {"printer < ", 1, 1000},
          {"printer > ", 1, 400},
          {"workstation-with-a-ver < ", 2, 464},
          {"192.168.1.7 < ", 1, 100},
          {"172.16.5.4 > ", 1, 64}}},
        {"numbers under -n",
         {"-n", "-S", "h"},
         {{"10.0.0.1 ", 4, 1564},
          {"10.0.0.2 ", 2, 1400},
          {"192.168.1.7 ", 1, 100},
          {"172.16.5.4 ", 1, 64}}},
    };
    for (const auto& c : cases) {
        const auto run = report(c.options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(report_matches(run.out,
                                   {office_total_block, block("Host", c.rows, office_total)}, -1))
            << c.what;
    }
}

TEST_F(HostNames, NetworksAreNeverLookedUp) {
    const auto run = report({"-S", "n", "-t", "2"});
    EXPECT_TRUE(report_matches(
        run.out,
        {office_total_block,
         block("Network", {{"10.0.0.0 ", 4, 1564}, {"192.168.1.0 ", 1, 100}, {"172.16.0.0 ", 1, 64}},
               office_total)},
        2));
}

// Machine output carries the whole name the resolver gave beside the
// label cut to its column; numbers and unnamed addresses have none.
TEST_F(HostNames, MachineOutputCarriesWholeNames) {
    const auto json = report({"-S", "h", "--format=json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"key\":\"10.0.0.1\",\"label\":\"workstation-with-a-very-\","
                            "\"packets\":4,\"bytes\":1564,\"share\":85.7456,"
                            "\"name\":\"workstation-with-a-very-long-name.lab.example\"}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"key\":\"172.16.5.4\",\"label\":\"172.16.5.4\",\"packets\":1,"
                            "\"bytes\":64,\"share\":3.5088,\"name\":null}"),
              std::string::npos)
        << json.out;

    const auto csv = report({"-S", "h", "--format=csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("Host,10.0.0.1,workstation-with-a-very-,,4,1564,85.7456,"
                           "workstation-with-a-very-long-name.lab.example\r\n"),
              std::string::npos)
        << csv.out;
    EXPECT_NE(csv.out.find("Host,172.16.5.4,172.16.5.4,,1,64,3.5088,\r\n"), std::string::npos)
        << csv.out;

    const auto numbers = report({"-n", "-S", "h", "--format=json"});
    EXPECT_EQ(numbers.out.find("\"name\":\""), std::string::npos) << numbers.out;
}

}  // namespace
