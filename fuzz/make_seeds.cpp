// Writes the starting corpora of the fuzz targets: small, valid instances of
// every input they take, from which the fuzzers mutate.
//
//   make_fuzz_seeds DIR   fills DIR/decode_frame, DIR/snoop_reader,
//                         DIR/pcap_run, DIR/read_options and
//                         DIR/capture_file_reader

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "gen/capture_writer.h"
#include "gen/frame_builder.h"
#include "gen/traffic_mix.h"

namespace {

namespace fs = std::filesystem;
using twgen::bytes;

const twgen::mac_address station_a = {0x02, 0, 0, 0, 0, 0x0a};
const twgen::mac_address station_b = {0x02, 0, 0, 0, 0, 0x0b};

// Network-layer packets that every link encapsulation can carry.
struct network_packets {
    bytes ipv4_tcp, ipv4_udp, ipv4_icmp, ipv4_options, ipv6_tcp, arp;
};

network_packets make_packets() {
    const std::uint32_t a = twgen::ipv4_address("10.0.0.1");
    const std::uint32_t b = twgen::ipv4_address("172.16.5.4");
    twgen::ipv6_address six_a{};
    twgen::ipv6_address six_b{};
    six_a[15] = 1;
    six_b[15] = 2;
    twgen::ipv4_options with_options;
    with_options.header_words = 7;
    return {
        twgen::ipv4(a, b, twgen::ip_tcp, twgen::tcp(51000, 80, 6)),
        twgen::ipv4(b, a, twgen::ip_udp, twgen::udp(53, 53, 12)),
        twgen::ipv4(a, twgen::ipv4_address("224.0.0.1"), twgen::ip_icmp, twgen::icmp_echo(8)),
        twgen::ipv4(a, b, twgen::ip_tcp, twgen::tcp(22, 1023), with_options),
        twgen::ipv6(six_a, six_b, twgen::ip_tcp, twgen::tcp(443, 40000)),
        twgen::arp(1, a, b),
    };
}

std::vector<bytes> ethernet_frames(const network_packets& p) {
    return {
        twgen::ethernet(station_a, station_b, twgen::ethertype_ipv4, p.ipv4_tcp),
        twgen::ethernet(station_b, station_a, twgen::ethertype_ipv4, p.ipv4_udp),
        twgen::ethernet(station_a, station_b, twgen::ethertype_ipv4, p.ipv4_icmp),
        twgen::ethernet(station_a, station_b, twgen::ethertype_ipv4, p.ipv4_options),
        twgen::ethernet(station_a, station_b, twgen::ethertype_ipv6, p.ipv6_tcp),
        twgen::ethernet(station_a, station_b, twgen::ethertype_arp, p.arp),
        twgen::ethernet(station_a, station_b, twgen::ethertype_ipx, twgen::filler(30)),
        twgen::ethernet_vlan(station_a, station_b, 7, twgen::ethertype_ipv4, p.ipv4_udp),
        twgen::ethernet_8023(station_a, station_b, twgen::filler(40, 0xaa)),
    };
}

std::vector<bytes> null_link_frames(const network_packets& p) {
    return {twgen::null_link(2, p.ipv4_tcp), twgen::null_link(28, p.ipv6_tcp),
            twgen::null_link(24, p.ipv6_tcp), twgen::null_link(2, p.ipv4_udp)};
}

std::vector<bytes> ppp_frames(const network_packets& p) {
    return {twgen::ppp(0x0021, p.ipv4_tcp), twgen::ppp(0x0057, p.ipv6_tcp),
            twgen::ppp(0xc021, twgen::filler(14, 1)), twgen::ppp(0x1234, p.ipv4_udp)};
}

std::vector<twgen::frame> as_capture(const std::vector<bytes>& frames) {
    std::vector<twgen::frame> out;
    std::int64_t second = 1'000'000'000;
    for (const bytes& b : frames) {
        out.push_back({b, 0, second++, 250'000});
    }
    return out;
}

void write_seed(const fs::path& dir, const std::string& name, const bytes& contents) {
    twgen::write_file((dir / name).string(), contents);
}

// Control byte (data-link type in bits 0-1, see the fuzzer) and frame.
void write_decode_seeds(const fs::path& dir, int link_index, const std::vector<bytes>& frames) {
    int n = 0;
    for (const bytes& frame : frames) {
        for (const std::uint8_t settings : {0x00, 0x04, 0x08, 0x70}) {
            bytes seed{static_cast<std::uint8_t>(settings | link_index)};
            seed.insert(seed.end(), frame.begin(), frame.end());
            write_seed(dir, "link" + std::to_string(link_index) + "-" + std::to_string(n++), seed);
        }
    }
}

// Frames of every link type and encapsulation the long options read, for
// the second byte's choice of data-link type (see decode_frame_fuzzer).
void write_deep_decode_seeds(const fs::path& dir) {
    constexpr std::array<int, 10> datalinks = {DLT_NULL, DLT_EN10MB, DLT_PPP, DLT_PPP_SERIAL,
                                               DLT_LOOP, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW,
                                               DLT_IPV4, DLT_IPV6};
    for (std::size_t index = 0; index < datalinks.size(); ++index) {
        twgen::mix_options mix = twgen::every_encapsulation_mix(datalinks[index], 12);
        mix.seed = static_cast<std::uint32_t>(index + 1);
        mix.max_length = 200;
        int n = 0;
        for (const twgen::frame& frame : twgen::generate_mix(mix).frames) {
            bytes seed{static_cast<std::uint8_t>(0x80 | (n % 2 == 0 ? 0x04 : 0x00)),
                       static_cast<std::uint8_t>(index)};
            seed.insert(seed.end(), frame.bytes.begin(), frame.bytes.end());
            write_seed(dir, "deep" + std::to_string(index) + "-" + std::to_string(n++), seed);
        }
    }
}

// Captures of the link types and encapsulations the long options read.
void write_deep_pcap_seeds(const fs::path& dir) {
    for (const int datalink : {DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_LOOP, DLT_PPP_SERIAL, DLT_IPV6}) {
        twgen::mix_options mix = twgen::every_encapsulation_mix(datalink, 20);
        mix.max_length = 300;
        twgen::write_pcap((dir / ("deep-" + std::to_string(datalink) + ".pcap")).string(),
                          datalink, 65535, twgen::generate_mix(mix).frames);
    }
}

void write_pcap_seed(const fs::path& dir, const std::string& name, int datalink,
                     std::uint32_t snap_length, const std::vector<bytes>& frames) {
    const auto capture = as_capture(frames);
    twgen::write_pcap((dir / name).string(), datalink, snap_length, capture);
}

// A pcapng image in this host's byte order or the other: one section, an
// interface per link type (the second with a nanosecond resolution and an
// offset), the frames dealt to them in turns as enhanced packet blocks,
// with a simple packet block and a block of an unknown type among them.
bytes pcapng_seed(const std::vector<std::pair<std::uint16_t, std::vector<bytes>>>& links,
                  bool other_order) {
    bytes image;
    const auto encode = [&](std::uint64_t value, int width) {
        bytes field;
        for (int i = 0; i < width; ++i) {
            const int shift = other_order ? 8 * (width - 1 - i) : 8 * i;
            field.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        return field;
    };
    const auto put = [&](std::uint64_t value, int width) {
        const bytes field = encode(value, width);
        image.insert(image.end(), field.begin(), field.end());
    };
    const auto block = [&](std::uint32_t type, const auto& body) {
        const std::size_t start = image.size();
        put(type, 4);
        put(0, 4);  // the length, written once the body is known
        body();
        image.resize((image.size() + 3) & ~std::size_t{3}, 0);
        const bytes length = encode(image.size() - start + 4, 4);
        std::copy(length.begin(), length.end(), image.begin() + static_cast<std::ptrdiff_t>(start + 4));
        image.insert(image.end(), length.begin(), length.end());
    };
    block(0x0a0d0d0a, [&] {
        put(0x1a2b3c4d, 4);
        put(1, 2);
        put(0, 2);
        put(~std::uint64_t{0}, 8);
    });
    for (std::size_t i = 0; i < links.size(); ++i) {
        block(1, [&] {
            put(links[i].first, 2);
            put(0, 2);
            put(65535, 4);
            if (i == 1) {
                put(9, 2);
                put(1, 2);
                put(9, 1);
                put(0, 3);
                put(14, 2);
                put(8, 2);
                put(3600, 8);
                put(0, 4);
            }
        });
    }
    for (std::size_t n = 0;; ++n) {
        bool any = false;
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (n >= links[i].second.size()) {
                continue;
            }
            any = true;
            const bytes& frame = links[i].second[n];
            block(6, [&] {
                put(i, 4);
                put(0x5000, 4);
                put(0x12345678u + n, 4);
                put(frame.size(), 4);
                put(frame.size() + 4, 4);
                image.insert(image.end(), frame.begin(), frame.end());
            });
        }
        if (!any) {
            break;
        }
        if (n == 1) {
            block(3, [&] {
                put(links[0].second[0].size(), 4);
                image.insert(image.end(), links[0].second[0].begin(), links[0].second[0].end());
            });
            block(0x0bad, [&] { put(0, 4); });
        }
    }
    return image;
}

// Argument vectors, words separated by NUL.
using namespace std::string_literals;
const std::vector<std::string> option_seeds = {
    "-S\0a\0-n\0-r\0capture.pcap"s,
    "-Sph\0-d\0-R\0-t\0" "5\0-r\0-"s,
    "-P\0-1\0-s\0" "0.5\0-i\0eth0\0-p"s,
    "-f\0tcp port 80\0-S\0lin\0-r\0x"s,
    "-s\0" "0"s,
    "-h"s,
    "-t"s,
    "-dnpR\0operand\0-S\0a"s,
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 1;
    }
    try {
        const fs::path root = argv[1];
        const network_packets packets = make_packets();
        const auto ethernet = ethernet_frames(packets);
        const auto null_link = null_link_frames(packets);
        const auto ppp = ppp_frames(packets);

        const fs::path decode = root / "decode_frame";
        const fs::path snoop = root / "snoop_reader";
        const fs::path pcap = root / "pcap_run";
        const fs::path options = root / "read_options";
        const fs::path capture_file = root / "capture_file_reader";
        for (const fs::path& dir : {decode, snoop, pcap, options, capture_file}) {
            fs::create_directories(dir);
        }

        write_decode_seeds(decode, 0, null_link);
        write_decode_seeds(decode, 1, ethernet);
        write_decode_seeds(decode, 2, ppp);
        write_decode_seeds(decode, 3, {packets.ipv4_tcp, packets.ipv6_tcp});
        write_deep_decode_seeds(decode);

        write_seed(snoop, "ethernet", twgen::snoop_image(as_capture(ethernet)));
        write_seed(snoop, "snap-60", twgen::snoop_image(as_capture(ethernet), 60));
        write_seed(snoop, "header-only", twgen::snoop_image({}));

        write_pcap_seed(pcap, "ethernet.pcap", DLT_EN10MB, 65535, ethernet);
        write_pcap_seed(pcap, "ethernet-snap68.pcap", DLT_EN10MB, 68, ethernet);
        write_pcap_seed(pcap, "null.pcap", DLT_NULL, 65535, null_link);
        write_pcap_seed(pcap, "ppp.pcap", DLT_PPP, 65535, ppp);
        write_pcap_seed(pcap, "raw.pcap", DLT_RAW, 65535, {packets.ipv4_tcp});
        write_seed(pcap, "ethernet.snoop", twgen::snoop_image(as_capture(ethernet)));
        write_deep_pcap_seeds(pcap);

        // The capture file reader: the pcap seeds above as they are, and
        // pcapng of several link types in either byte order.
        for (const auto& entry : fs::directory_iterator(pcap)) {
            if (entry.path().extension() == ".pcap") {
                fs::copy_file(entry.path(), capture_file / entry.path().filename(),
                              fs::copy_options::overwrite_existing);
            }
        }
        const std::vector<std::pair<std::uint16_t, std::vector<bytes>>> mixed = {
            {1, ethernet}, {0, null_link}, {9, ppp}};
        write_seed(capture_file, "mixed.pcapng", pcapng_seed(mixed, false));
        write_seed(capture_file, "mixed-other-order.pcapng", pcapng_seed(mixed, true));

        int n = 0;
        for (const std::string& words : option_seeds) {
            write_seed(options, "argv-" + std::to_string(n++), bytes(words.begin(), words.end()));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
