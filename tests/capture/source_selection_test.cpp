// Which reader a source goes to, and what comes of it: capture files of
// every layout that libpcap reads, standard input, pipes, directories and
// files that cannot be examined, on the real binary where the outcome is
// its messages and exit status.

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "capture/compressed_files.h"
#include "capture/sources.h"
#include "capture/source_test_support.h"
#include "cli/program_state.h"
#include "support/process.h"

using namespace tallywire;

namespace {

using twtest::seen_frame;

struct source_run {
    int result = 0;
    std::vector<seen_frame> frames;
};

source_run select_and_read(const std::string& path, const std::string& filter = "",
                           double seconds = -1.0) {
    reset_program_state();
    source_run run;
    run_config config = twtest::file_config(path, filter);
    config.capture_seconds = seconds;
    run.result = capture_from_source(config, twtest::collect_frame, &run.frames);
    return run;
}

// Capture layouts written by hand, so that the byte order and the record
// layout can be chosen freely.
class image_writer {
public:
    explicit image_writer(bool other_order) : other_order_(other_order) {}

    template <typename Word>
    void put(Word value) {
        std::array<std::uint8_t, sizeof(Word)> bytes{};
        std::memcpy(bytes.data(), &value, sizeof value);
        if (other_order_) {
            std::reverse(bytes.begin(), bytes.end());
        }
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    void put_bytes(std::span<const std::uint8_t> bytes) {
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    void pad_to_word() {
        image.resize((image.size() + 3) & ~std::size_t{3}, 0);
    }

    std::vector<std::uint8_t> image;

private:
    bool other_order_;
};

std::uint32_t wire_length(const twgen::frame& f) {
    return f.wire_length != 0 ? f.wire_length : static_cast<std::uint32_t>(f.bytes.size());
}

// Classic pcap, or the modified layout whose record headers carry eight more
// bytes (interface index, protocol, packet type, pad).
std::vector<std::uint8_t> pcap_image(std::span<const twgen::frame> frames, bool other_order,
                                     bool modified) {
    image_writer out(other_order);
    out.put<std::uint32_t>(modified ? 0xa1b2cd34 : 0xa1b2c3d4);
    out.put<std::uint16_t>(2);
    out.put<std::uint16_t>(4);
    out.put<std::int32_t>(0);
    out.put<std::uint32_t>(0);
    out.put<std::uint32_t>(65535);
    out.put<std::uint32_t>(DLT_EN10MB);
    for (const twgen::frame& f : frames) {
        out.put(static_cast<std::uint32_t>(f.seconds));
        out.put(static_cast<std::uint32_t>(f.microseconds));
        out.put(static_cast<std::uint32_t>(f.bytes.size()));
        out.put(wire_length(f));
        if (modified) {
            out.put<std::uint32_t>(2);       // interface index
            out.put<std::uint16_t>(0x0800);  // protocol
            out.put_bytes(std::vector<std::uint8_t>{0, 0});  // packet type, pad
        }
        out.put_bytes(f.bytes);
    }
    return out.image;
}

// Section header, one Ethernet interface, one enhanced packet block per
// frame, with microsecond time stamps (the default resolution).
std::vector<std::uint8_t> pcapng_image(std::span<const twgen::frame> frames, bool other_order) {
    image_writer out(other_order);
    out.put<std::uint32_t>(0x0a0d0d0a);
    out.put<std::uint32_t>(28);
    out.put<std::uint32_t>(0x1a2b3c4d);
    out.put<std::uint16_t>(1);
    out.put<std::uint16_t>(0);
    out.put<std::int64_t>(-1);
    out.put<std::uint32_t>(28);

    out.put<std::uint32_t>(1);
    out.put<std::uint32_t>(20);
    out.put<std::uint16_t>(DLT_EN10MB);
    out.put<std::uint16_t>(0);
    out.put<std::uint32_t>(65535);
    out.put<std::uint32_t>(20);

    for (const twgen::frame& f : frames) {
        const auto padded = static_cast<std::uint32_t>((f.bytes.size() + 3) & ~std::size_t{3});
        const auto stamp = static_cast<std::uint64_t>(f.seconds * 1000000 + f.microseconds);
        out.put<std::uint32_t>(6);
        out.put<std::uint32_t>(32 + padded);
        out.put<std::uint32_t>(0);
        out.put(static_cast<std::uint32_t>(stamp >> 32));
        out.put(static_cast<std::uint32_t>(stamp));
        out.put(static_cast<std::uint32_t>(f.bytes.size()));
        out.put(wire_length(f));
        out.put_bytes(f.bytes);
        out.pad_to_word();
        out.put<std::uint32_t>(32 + padded);
    }
    return out.image;
}

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
struct dumper_closer {
    void operator()(pcap_dumper_t* dumper) const { pcap_dump_close(dumper); }
};

// Nanosecond pcap, written through libpcap itself.
void write_nanosecond_pcap(const std::string& path, std::span<const twgen::frame> frames) {
    std::unique_ptr<pcap_t, pcap_closer> dead(
        pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO));
    ASSERT_TRUE(dead);
    std::unique_ptr<pcap_dumper_t, dumper_closer> dumper(pcap_dump_open(dead.get(), path.c_str()));
    ASSERT_TRUE(dumper) << pcap_geterr(dead.get());
    for (const twgen::frame& f : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(f.seconds);
        header.ts.tv_usec = static_cast<suseconds_t>(f.microseconds * 1000);  // nanoseconds
        header.caplen = static_cast<bpf_u_int32>(f.bytes.size());
        header.len = wire_length(f);
        pcap_dump(reinterpret_cast<u_char*>(dumper.get()), &header, f.bytes.data());
    }
}

struct layout_case {
    const char* name;
    std::function<void(const std::string&, std::span<const twgen::frame>)> write;
};

void write_image(const std::string& path, const std::vector<std::uint8_t>& image) {
    twgen::write_file(path, image);
}

void PrintTo(const layout_case& c, std::ostream* out) { *out << c.name; }

class LibpcapLayouts : public ::testing::TestWithParam<layout_case> {};

// Every layout reaches libpcap and yields the frames that libpcap's own
// pcap writer gives.
TEST_P(LibpcapLayouts, GiveTheSameFramesAsAPlainPcapFile) {
    const auto frames = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir;
    const std::string reference = dir.file("reference.pcap");
    twgen::write_pcap(reference, DLT_EN10MB, 65535, frames);
    const std::string path = dir.file("layout");
    GetParam().write(path, frames);

    const source_run expected = select_and_read(reference);
    const source_run run = select_and_read(path);
    ASSERT_EQ(expected.frames.size(), frames.size());
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.frames, expected.frames);
}

// Compressed, every layout is read as what it holds.
TEST_P(LibpcapLayouts, CompressedCopiesGiveTheSameFrames) {
    const auto frames = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir;
    const std::string path = dir.file("layout");
    GetParam().write(path, frames);
    const source_run expected = select_and_read(path);
    ASSERT_EQ(expected.frames.size(), frames.size());
    for (const twtest::packer& packer : {twtest::gzip_packer, twtest::zstd_packer}) {
        if (!twtest::packer_missing(packer).empty()) {
            GTEST_SKIP() << twtest::packer_missing(packer);
        }
        const source_run run = select_and_read(twtest::pack(packer, path));
        EXPECT_EQ(run.result, 0) << packer.name;
        EXPECT_EQ(run.frames, expected.frames) << packer.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LibpcapLayouts,
    ::testing::Values(
        layout_case{"pcap",
                    [](auto& p, auto f) { write_image(p, pcap_image(f, false, false)); }},
        layout_case{"pcap_other_order",
                    [](auto& p, auto f) { write_image(p, pcap_image(f, true, false)); }},
        layout_case{"modified_pcap",
                    [](auto& p, auto f) { write_image(p, pcap_image(f, false, true)); }},
        layout_case{"modified_pcap_other_order",
                    [](auto& p, auto f) { write_image(p, pcap_image(f, true, true)); }},
        layout_case{"nanosecond_pcap", write_nanosecond_pcap},
        layout_case{"pcapng", [](auto& p, auto f) { write_image(p, pcapng_image(f, false)); }},
        layout_case{"pcapng_other_order",
                    [](auto& p, auto f) { write_image(p, pcapng_image(f, true)); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Feeds a named pipe from a thread for as long as the reader reads.
source_run read_through_fifo(const twtest::temp_dir& dir, const std::vector<std::uint8_t>& image) {
    return twtest::read_through_fifo(dir.file("pipe"), image,
                                     [](const std::string& fifo) { return select_and_read(fifo); });
}

TEST(PipesAndStandardInput, APipeGoesToLibpcapUnprobed) {
    const auto frames = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir;
    const source_run from_pipe = read_through_fifo(dir, pcap_image(frames, false, false));
    EXPECT_EQ(from_pipe.result, 0);
    EXPECT_EQ(from_pipe.frames.size(), frames.size());
}

TEST(PipesAndStandardInput, SnoopDataThroughAPipeIsNotRecognised) {
    twtest::temp_dir dir;
    ::testing::internal::CaptureStderr();
    const source_run run = read_through_fifo(dir, twgen::snoop_image(twtest::mixed_ethernet_frames()));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.result, -1);
    EXPECT_TRUE(run.frames.empty());
    EXPECT_EQ(err.rfind("pcap_open(): ", 0), 0u) << err;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(PipesAndStandardInput, DashReadsStandardInputThroughLibpcap) {
    const twtest::sigpipe_ignored guard;
    const auto frames = twtest::mixed_ethernet_frames();
    twtest::run_options pcap_input;
    pcap_input.input = as_text(pcap_image(frames, false, false));
    const auto from_pcap = twtest::run_tallywire({"-n", "-r", "-"}, pcap_input);
    EXPECT_EQ(from_pcap.status, 0) << from_pcap.err;
    EXPECT_EQ(from_pcap.err, "");

    twtest::run_options snoop_input;
    snoop_input.input = as_text(twgen::snoop_image(frames));
    const auto from_snoop = twtest::run_tallywire({"-n", "-r", "-"}, snoop_input);
    EXPECT_EQ(from_snoop.status, 1);
    EXPECT_EQ(from_snoop.err.rfind("pcap_open(): ", 0), 0u) << from_snoop.err;
    EXPECT_EQ(from_snoop.out, "");
}

// The snoop reader takes every record, whatever the filter and time limit.
TEST(SnoopSelection, FilterAndTimeLimitDoNotApply) {
    const auto frames = twtest::mixed_ethernet_frames();
    twtest::temp_dir dir;
    const std::string path = dir.file("capture.snoop");
    twgen::write_snoop(path, frames);

    const source_run run = select_and_read(path, "udp and not udp", 0.000001);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.frames.size(), frames.size());

    const auto with_options =
        twtest::run_tallywire({"-n", "-f", "this is no filter", "-s", "0.5", "-r", path});
    EXPECT_EQ(with_options.status, 0) << with_options.err;
    EXPECT_EQ(with_options.err,
              "tallywire: -f does not apply to a snoop file: every frame in it is counted\n");
}

TEST(SnoopSelection, ALiveSourceIsNeverProbed) {
    twtest::temp_dir dir;
    const std::string path = dir.file("capture.snoop");
    twgen::write_snoop(path, twtest::mixed_ethernet_frames());
    const auto result = twtest::run_tallywire({"-n", "-i", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("pcap_open(): ", 0), 0u) << result.err;
}

// Short names are file names too, unless the name is exactly "-".
TEST(SnoopSelection, NamesThatOnlyLookLikeStandardInput) {
    twtest::temp_dir dir;
    for (const std::string name : {"x", "-x", "--"}) {
        twgen::write_snoop(dir.file(name), twtest::mixed_ethernet_frames());
        const auto result = twtest::run_program(
            "/bin/sh", {"-c", "cd \"$1\" && exec \"$2\" -n -r \"$3\"", "sh", dir.path().string(),
                        twtest::tallywire_path(), name});
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        EXPECT_EQ(result.err, "") << name;
    }
}

struct failure_case {
    std::string name;
    std::function<std::string(const twtest::temp_dir&)> make_source;  // returns the path
    std::string expected_err;  // exact, or a prefix when prefix_only
    bool prefix_only = false;
};

std::string file_of(const twtest::temp_dir& dir, std::size_t size) {
    const std::string path = dir.file("short");
    const std::vector<std::uint8_t> snoop = {'s', 'n', 'o', 'o', 'p', 0, 0, 0};
    twgen::write_file(path, std::span(snoop.data(), size));
    return path;
}

void PrintTo(const failure_case& c, std::ostream* out) { *out << c.name; }

class SourceFailures : public ::testing::TestWithParam<failure_case> {};

// Each failure is reported once, no report follows, and the status is 1.
TEST_P(SourceFailures, ReportTheirCauseAndExitWithStatusOne) {
    const failure_case& c = GetParam();
    twtest::temp_dir dir;
    const auto result = twtest::run_tallywire({"-n", "-r", c.make_source(dir)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    if (c.prefix_only) {
        EXPECT_EQ(result.err.rfind(c.expected_err, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    } else {
        EXPECT_EQ(result.err, c.expected_err);
    }
}

std::vector<failure_case> failure_cases() {
    std::vector<failure_case> cases = {
        {"missing", [](auto& d) { return d.file("absent"); },
         "stat(): No such file or directory\n"},
        {"missing_directory_on_the_path", [](auto& d) { return d.file("absent/capture"); },
         "stat(): No such file or directory\n"},
        {"directory", [](auto& d) { return d.path().string(); }, "pcap_open(): ", true},
        {"text", [](auto& d) {
             const std::string path = d.file("notes.txt");
             const std::string words = "neither pcap nor snoop\n";
             twgen::write_file(path, std::span(reinterpret_cast<const std::uint8_t*>(words.data()),
                                               words.size()));
             return path;
         },
         "pcap_open(): ", true},
    };
    for (std::size_t size = 0; size < 8; ++size) {
        cases.push_back({"file_of_" + std::to_string(size) + "_bytes",
                         [size](auto& d) { return file_of(d, size); },
                         "read(): couldn't read file magic\n"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceFailures, ::testing::ValuesIn(failure_cases()),
                         [](const auto& info) { return info.param.name; });

// Files that exist but may not be read: as root, the binary runs under an
// unprivileged user, since root reads anything.
class UnreadableSources : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() == 0 && !std::filesystem::exists("/usr/bin/setpriv")) {
            GTEST_SKIP() << "running as root and setpriv is missing: no way to drop privileges";
        }
        std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    }

    twtest::run_result run_unprivileged(const std::string& path) {
        std::vector<std::string> args = {"-n", "-r", path};
        if (geteuid() != 0) {
            return twtest::run_tallywire(args);
        }
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   twtest::tallywire_path()});
        return twtest::run_program("/usr/bin/setpriv", args);
    }

    twtest::temp_dir dir_;
};

TEST_F(UnreadableSources, FileWithoutReadPermission) {
    const std::string path = dir_.file("secret.snoop");
    twgen::write_snoop(path, twtest::mixed_ethernet_frames());
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const auto result = run_unprivileged(path);
    EXPECT_EQ(result.err, "open(): Permission denied\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
}

TEST_F(UnreadableSources, DirectoryOnThePathWithoutSearchPermission) {
    const std::filesystem::path closed = dir_.path() / "closed";
    std::filesystem::create_directory(closed);
    const std::string path = (closed / "capture.snoop").string();
    twgen::write_snoop(path, twtest::mixed_ethernet_frames());
    std::filesystem::permissions(closed, std::filesystem::perms::none);
    const auto result = run_unprivileged(path);
    EXPECT_EQ(result.err, "stat(): Permission denied\n");
    EXPECT_EQ(result.status, 1);
    std::filesystem::permissions(closed, std::filesystem::perms::all);
}

}  // namespace
