#pragma once

// Running the real binary on damaged captures: every run is bounded in time,
// and its end is sorted into the only shapes a run may take.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/report_total.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "support/process.h"

namespace hostile {

// A run on a small file takes well under a second; one that takes this long
// is hung.
inline constexpr double run_limit_seconds = 20;

// Peak resident size allowed to a run whose file claims a huge record.
inline constexpr long bounded_rss_kib = 64 * 1024;

enum class outcome {
    report,      // status 0, the report on stdout, nothing on stderr
    no_packets,  // status 0, nothing counted: only "No packets processed."
    failure,     // status 1, no report, a message on stderr
    damaged,     // status 2 after "pcap_dispatch(): ...": the frames before
                 // the damage are reported (or "No packets processed.")
    fault,       // anything else: a crash, a hang, a sanitizer report
};

inline const char* name_of(outcome o) {
    switch (o) {
    case outcome::report: return "report";
    case outcome::no_packets: return "no packets";
    case outcome::failure: return "failure";
    case outcome::damaged: return "damaged";
    default: return "fault";
    }
}

inline std::ostream& operator<<(std::ostream& out, outcome o) { return out << name_of(o); }

inline bool has_sanitizer_report(const std::string& err) {
    return err.find("Sanitizer") != std::string::npos ||
           err.find("runtime error:") != std::string::npos;
}

// A status 0 run: the report, or the note that nothing was counted.
inline outcome classify_completed(const std::string& out, const std::string& err) {
    if (err.empty() && out.starts_with("Total Statistics:\n")) {
        return outcome::report;
    }
    if (out.empty() && err == "No packets processed.\n") {
        return outcome::no_packets;
    }
    return outcome::fault;
}

inline constexpr std::string_view dispatch_error = "pcap_dispatch(): ";

inline outcome classify(const twtest::run_result& r) {
    if (r.timed_out || has_sanitizer_report(r.err)) {
        return outcome::fault;
    }
    if (r.status == 2 && r.err.starts_with(dispatch_error)) {
        // libpcap met a damaged record: its one-line message, then what
        // was counted before it.
        const std::size_t line_end = r.err.find('\n');
        const bool completed = line_end != std::string::npos &&
                               classify_completed(r.out, r.err.substr(line_end + 1)) !=
                                   outcome::fault;
        return completed ? outcome::damaged : outcome::fault;
    }
    if (r.status == 0) {
        return classify_completed(r.out, r.err);
    }
    if (r.status == 1 && r.out.empty() && !r.err.empty() && r.err.ends_with("\n")) {
        return outcome::failure;
    }
    return outcome::fault;
}

inline std::string describe(const twtest::run_result& r) {
    std::ostringstream text;
    text << "status " << r.status << (r.timed_out ? " (killed: hung)" : "") << ", peak "
         << r.max_rss_kib << " KiB\n--- stdout:\n"
         << r.out.substr(0, 2000) << "--- stderr:\n"
         << r.err.substr(0, 4000);
    return text.str();
}

// Every statistic, numbers only (no name service is asked), bounded.
inline twtest::run_result run_on(const std::string& path) {
    twtest::run_options options;
    options.timeout_seconds = run_limit_seconds;
    return twtest::run_tallywire({"-S", "a", "-n", "-r", path}, options);
}

// The Total row's byte count as the report shows it. A count as wide as
// its ten-character column runs straight into the percent that follows
// (the line format is fixed), so the digits are looked for, not parsed.
inline bool shows_total_bytes(const std::string& report, std::uint64_t bytes) {
    const auto total = twtest::total_row(report);
    if (total && total->bytes == bytes) {
        return true;
    }
    const std::size_t line_end = report.find('\n', report.find("\tTotal "));
    const std::string line = report.substr(0, line_end);
    return bytes >= 1'000'000'000u && line.find(" " + std::to_string(bytes)) != std::string::npos;
}

// How a capture format lays its records out.
struct capture_layout {
    std::size_t file_header;
    std::size_t record_header;
    std::size_t body_alignment;  // bodies are padded to a multiple of this
};
inline constexpr capture_layout pcap_layout{24, 16, 1};
inline constexpr capture_layout snoop_layout{16, 24, 4};

// Where each record of an image of frames starts; the last entry is where
// the file ends.
inline std::vector<std::size_t> record_starts(const capture_layout& layout,
                                              std::span<const twgen::frame> frames) {
    std::vector<std::size_t> starts{layout.file_header};
    for (const twgen::frame& f : frames) {
        const std::size_t body = (f.bytes.size() + layout.body_alignment - 1) /
                                 layout.body_alignment * layout.body_alignment;
        starts.push_back(starts.back() + layout.record_header + body);
    }
    return starts;
}

// Writes a host-order 32-bit field into a capture image, as libpcap writes
// the fields of the files it makes.
inline void put_host32(std::vector<std::uint8_t>& image, std::size_t offset,
                       std::uint32_t value) {
    std::memcpy(image.data() + offset, &value, sizeof value);
}

inline void put_big32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        image[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

using field_writer = void (*)(std::vector<std::uint8_t>&, std::size_t, std::uint32_t);

// Damaged images are written to a scratch folder of the test and run there.
class damaged_capture_test : public ::testing::Test {
protected:
    twtest::run_result run_image(std::span<const std::uint8_t> image) {
        const std::string path = dir_.file("damaged");
        twgen::write_file(path, image);
        return run_on(path);
    }

    // Runs a copy of image whose 32-bit field at offset holds value.
    twtest::run_result run_with_field(std::vector<std::uint8_t> image, field_writer put,
                                      std::size_t offset, std::uint32_t value) {
        put(image, offset, value);
        return run_image(image);
    }

    twtest::temp_dir dir_;
};

// The field values that damaged headers carry.
inline const std::vector<std::uint32_t> extreme_values = {0, 1, 23, 24, 0x7fffffffu,
                                                          0xffffffffu};

// A few small Ethernet frames: TCP, UDP and ARP over IPv4.
inline std::vector<twgen::frame> small_frames() {
    using namespace twgen;
    const mac_address a = {0x02, 0, 0, 0, 0, 1};
    const mac_address b = {0x02, 0, 0, 0, 0, 2};
    const std::uint32_t h1 = ipv4_address("10.0.0.1");
    const std::uint32_t h2 = ipv4_address("10.0.0.2");
    std::vector<frame> frames;
    frames.push_back({ethernet(a, b, ethertype_ipv4, ipv4(h1, h2, ip_tcp, tcp(40000, 80, 10))),
                      1514, 1000, 1});
    frames.push_back({ethernet(b, a, ethertype_ipv4, ipv4(h2, h1, ip_udp, udp(53, 53, 3))), 0,
                      1001, 2});
    frames.push_back({ethernet(a, b, ethertype_arp, arp(1, h1, h2)), 60, 1002, 3});
    return frames;
}

}  // namespace hostile
