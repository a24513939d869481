// tallywire-host-capture: writes a pcap capture whose Host rows are count
// consecutive addresses from a first one, each sending one datagram to a
// sink address; the addresses about which the test resolver keeps silent
// are passed over, so that every lookup of the capture's hosts gets its
// answer after the resolver's delay. For the name-lookup benchmark.
//
//   tallywire-host-capture -o FILE [-n COUNT] [-a FIRST] [-s SINK]

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "dns_responder/ptr_table.h"
#include "gen/capture_writer.h"
#include "gen/frame_builder.h"

int main(int argc, char** argv) {
    std::string path;
    long count = 1000;
    std::string first = "198.18.0.1";  // the benchmarking range, 198.18.0.0/15
    std::string sink = "198.19.255.1";
    int letter;
    while ((letter = getopt(argc, argv, "o:n:a:s:")) != -1) {
        switch (letter) {
        case 'o': path = optarg; break;
        case 'n': count = std::strtol(optarg, nullptr, 10); break;
        case 'a': first = optarg; break;
        case 's': sink = optarg; break;
        default: path.clear(); count = -1; break;
        }
    }
    if (path.empty() || count < 0 || count > 1000000) {
        std::fprintf(stderr, "usage: %s -o FILE [-n COUNT] [-a FIRST] [-s SINK]\n", argv[0]);
        return 2;
    }
    const twgen::mac_address from{0x02, 0, 0, 0, 0, 0x0a};
    const twgen::mac_address to{0x02, 0, 0, 0, 0, 0x0b};
    try {
        twgen::pcap_writer writer(path, DLT_EN10MB, 65535);
        const std::uint32_t sink_address = twgen::ipv4_address(sink.c_str());
        std::uint32_t address = twgen::ipv4_address(first.c_str());
        for (long written = 0; written < count; ++address) {
            if (twdns::reply_for(address) == twdns::ptr_reply::silence) {
                continue;
            }
            const auto datagram = twgen::ipv4(address, sink_address, twgen::ip_udp,
                                              twgen::udp(5000, 5001, 4));
            writer.write({twgen::ethernet(to, from, twgen::ethertype_ipv4, datagram),
                          static_cast<std::uint32_t>(100 + written)});
            ++written;
        }
        writer.finish();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s: %s\n", argv[0], failure.what());
        return 1;
    }
    return 0;
}
