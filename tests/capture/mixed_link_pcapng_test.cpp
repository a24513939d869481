// pcapng files whose interfaces differ in link type and snap length, as a
// capture of several interfaces at once or a join of captures of several
// links gives: every frame is counted under its own interface's link type,
// so the report equals the sum of the reports of the single-link captures
// the file was made of, with and without -f. The single-link reports come
// from libpcap (the captures read from standard input, which libpcap
// reads and filters itself), added up by --merge.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_images.h"
#include "gen/capture_writer.h"
#include "support/process.h"

namespace {

struct link_capture {
    std::string gen_link;    // the generator's -l
    std::uint16_t linktype;  // the file's link type number
    std::uint32_t snap_length;
    std::vector<twgen::frame> frames;
    std::string path;
};

class MixedLinkPcapng : public ::testing::Test {
protected:
    link_capture generate(const std::string& link, const std::string& seed,
                          std::uint32_t snap_length) {
        link_capture capture{link, 0, snap_length, {}, dir_.file(link + seed + ".pcap")};
        const auto run = twtest::run_program(
            TALLYWIRE_GEN_BINARY, {"-o", capture.path, "-n", "400", "-l", link, "-S", seed, "-s",
                                   std::to_string(snap_length), "-w", "ipv6-ext=5", "-w",
                                   "dot1q=5"});
        EXPECT_EQ(run.status, 0) << run.err;
        const auto image = twgen::read_file(capture.path);
        std::uint32_t linktype = 0;
        std::memcpy(&linktype, image.data() + 20, 4);
        capture.linktype = static_cast<std::uint16_t>(linktype);
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* handle = pcap_open_offline(capture.path.c_str(), errbuf);
        EXPECT_NE(handle, nullptr) << errbuf;
        pcap_pkthdr* header = nullptr;
        const unsigned char* data = nullptr;
        while (handle != nullptr && pcap_next_ex(handle, &header, &data) == 1) {
            capture.frames.push_back({std::vector<std::uint8_t>(data, data + header->caplen),
                                      header->len, header->ts.tv_sec, header->ts.tv_usec});
        }
        if (handle != nullptr) {
            pcap_close(handle);
        }
        return capture;
    }

    // The captures' frames dealt in turns into one pcapng file, one
    // interface each; sections_of_other_order puts every second capture
    // into a section of its own in the other byte order.
    std::string mixed(const std::vector<link_capture>& captures, bool two_sections = false) {
        twtest::pcapng_image image;
        std::vector<std::pair<std::size_t, std::size_t>> order;  // capture, frame
        for (std::size_t i = 0;; ++i) {
            bool any = false;
            for (std::size_t c = 0; c < captures.size(); ++c) {
                if (i < captures[c].frames.size()) {
                    order.emplace_back(c, i);
                    any = true;
                }
            }
            if (!any) {
                break;
            }
        }
        const auto put_packets = [&](std::size_t first_capture, std::size_t step,
                                     std::uint32_t interface_base) {
            for (const auto& [c, i] : order) {
                if (c % step != first_capture % step && step > 1) {
                    continue;
                }
                const twgen::frame& f = captures[c].frames[i];
                image.packet(static_cast<std::uint32_t>(step > 1 ? 0 : c - interface_base), f.bytes,
                             f.wire_length,
                             static_cast<std::uint64_t>(f.seconds) * 1'000'000u +
                                 static_cast<std::uint64_t>(f.microseconds));
            }
        };
        if (!two_sections) {
            for (const link_capture& c : captures) {
                image.interface(c.linktype, c.snap_length);
            }
            put_packets(0, 1, 0);
        } else {
            for (std::size_t c = 0; c < captures.size(); ++c) {
                if (c > 0) {
                    image.section(c % 2 == 1);
                }
                image.interface(captures[c].linktype, captures[c].snap_length);
                for (const twgen::frame& f : captures[c].frames) {
                    image.packet(0, f.bytes, f.wire_length,
                                 static_cast<std::uint64_t>(f.seconds) * 1'000'000u +
                                     static_cast<std::uint64_t>(f.microseconds));
                }
            }
        }
        const std::string path = dir_.file("mixed.pcapng");
        twgen::write_file(path, image.bytes);
        return path;
    }

    // The sum of the captures' reports, each read by libpcap.
    std::string sum_of(const std::vector<link_capture>& captures, std::vector<std::string> options) {
        std::string documents;
        for (const link_capture& c : captures) {
            twtest::run_options from_stdin;
            const auto image = twgen::read_file(c.path);
            from_stdin.input.assign(image.begin(), image.end());
            auto args = options;
            args.insert(args.end(), {"--format=json", "-r", "-"});
            const auto run = twtest::run_tallywire(args, from_stdin);
            EXPECT_EQ(run.status, 0) << run.err;
            documents += run.out;
        }
        twtest::run_options merge_input;
        merge_input.input = documents;
        const auto merged = twtest::run_tallywire({"-n", "--merge=-"}, merge_input);
        EXPECT_EQ(merged.status, 0) << merged.err;
        return merged.out;
    }

    void expect_sum(const std::vector<link_capture>& captures, const std::string& path,
                    std::vector<std::string> options) {
        SCOPED_TRACE(testing::PrintToString(options));
        auto args = options;
        args.insert(args.end(), {"-r", path});
        const auto run = twtest::run_tallywire(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::string expected = sum_of(captures, options);
        EXPECT_FALSE(expected.empty());
        EXPECT_TRUE(run.out == expected) << first_difference(run.out, expected);
    }

    static std::string first_difference(const std::string& got, const std::string& wanted) {
        std::size_t at = 0;
        while (at < got.size() && at < wanted.size() && got[at] == wanted[at]) {
            ++at;
        }
        const std::size_t line = got.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t from = line == std::string::npos ? 0 : line + 1;
        return "got:    " + got.substr(from, got.find('\n', at) - from) + "\nwanted: " +
               wanted.substr(from, wanted.find('\n', at) - from);
    }

    twtest::temp_dir dir_;
};

const std::vector<std::vector<std::string>> option_sets = {
    {"-S", "a", "-n"},
    {"-S", "a", "-n", "-d", "--look-through", "--ipv6"},
    {"-S", "a", "-n", "-f", "tcp or udp port 53"},
    {"-S", "lip", "-n", "--look-through", "-f", "ip6 or (ip and not icmp)"},
};

TEST_F(MixedLinkPcapng, EthernetAndLoopbackCountedWhole) {
    const std::vector<link_capture> captures = {generate("ether", "1", 65535),
                                                generate("loop", "2", 65535)};
    const std::string path = mixed(captures);
    for (const auto& options : option_sets) {
        expect_sum(captures, path, options);
    }
}

TEST_F(MixedLinkPcapng, EveryLinkTypeAndSnapLengthInOneFile) {
    const std::vector<link_capture> captures = {
        generate("ether", "3", 65535), generate("sll", "4", 96), generate("raw", "5", 200),
        generate("null", "6", 65535), generate("ppp", "7", 80), generate("sll2", "8", 65535)};
    const std::string path = mixed(captures);
    for (const auto& options : option_sets) {
        expect_sum(captures, path, options);
    }
}

TEST_F(MixedLinkPcapng, SectionsOfOppositeByteOrder) {
    const std::vector<link_capture> captures = {generate("ether", "9", 65535),
                                                generate("sll", "10", 65535),
                                                generate("ipv6", "11", 65535)};
    const std::string path = mixed(captures, true);
    for (const auto& options : option_sets) {
        expect_sum(captures, path, options);
    }
}

// A filter that one of the file's link types cannot take is refused before
// anything is reported, with libpcap's text, as for a single-link file.
TEST_F(MixedLinkPcapng, FilterThatOneLinkTypeCannotTakeIsRefused) {
    const std::vector<link_capture> captures = {generate("ether", "12", 65535),
                                                generate("raw", "13", 65535)};
    const std::string path = mixed(captures);
    const std::string filter = "ether src 02:00:00:00:00:01";
    const auto single = twtest::run_tallywire({"-n", "-f", filter, "-r", captures[1].path});
    EXPECT_EQ(single.status, 1);
    ASSERT_TRUE(single.err.starts_with("pcap_compile(): ")) << single.err;

    const auto run = twtest::run_tallywire({"-n", "-f", filter, "-r", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, single.err);
}

}  // namespace

namespace {

// The filter as libpcap applies it to files of either byte order: the
// loopback family word is read in the file's order, and every system's
// IPv6 family counts in a file.
TEST(FileFilter, LoopbackFramesOfEitherByteOrderAsLibpcapFiltersThem) {
    twtest::temp_dir dir;
    for (const std::string link : {"null", "loop"}) {
        const std::string path = dir.file(link + ".pcap");
        ASSERT_EQ(twtest::run_program(TALLYWIRE_GEN_BINARY, {"-o", path, "-n", "300", "-l", link,
                                                            "--vary-framing", "-w", "ipv6-ext=20"})
                      .status,
                  0);
        const std::string swapped = dir.file(link + "-swapped.pcap");
        twgen::write_file(swapped, twtest::other_order_of(twgen::read_file(path)));
        for (const std::string& file : {path, swapped}) {
            for (const std::string filter : {"ip6", "ip and tcp", "not ip"}) {
                SCOPED_TRACE(file + " -f " + filter);
                twtest::run_options from_stdin;
                const auto image = twgen::read_file(file);
                from_stdin.input.assign(image.begin(), image.end());
                const auto reference = twtest::run_tallywire(
                    {"-n", "-S", "a", "--look-through", "-f", filter, "-r", "-"}, from_stdin);
                const auto own =
                    twtest::run_tallywire({"-n", "-S", "a", "--look-through", "-f", filter, "-r", file});
                EXPECT_EQ(own.status, reference.status);
                EXPECT_EQ(own.out, reference.out);
                EXPECT_EQ(own.err, reference.err);
            }
        }
    }
}

}  // namespace
