#pragma once

// A capture file as libpcap itself reads it, for checking what the writers
// and the generator command put on disk.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tools_test {

struct pcap_read_back {
    int datalink = -1;
    int snap_length = -1;
    std::vector<pcap_pkthdr> headers;
    std::vector<std::vector<std::uint8_t>> bodies;
};

inline pcap_read_back read_with_libpcap(const std::string& path) {
    struct closer {
        void operator()(pcap_t* p) const { pcap_close(p); }
    };
    char error[PCAP_ERRBUF_SIZE] = {};
    std::unique_ptr<pcap_t, closer> p(pcap_open_offline(path.c_str(), error));
    if (!p) {
        ADD_FAILURE() << "libpcap cannot open " << path << ": " << error;
        return {};
    }
    pcap_read_back out;
    out.datalink = pcap_datalink(p.get());
    out.snap_length = pcap_snapshot(p.get());
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int status = 0;
    while ((status = pcap_next_ex(p.get(), &header, &data)) == 1) {
        out.headers.push_back(*header);
        out.bodies.emplace_back(data, data + header->caplen);
    }
    EXPECT_EQ(status, PCAP_ERROR_BREAK) << path << " should end cleanly: " << pcap_geterr(p.get());
    return out;
}

}  // namespace tools_test
