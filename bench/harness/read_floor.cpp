// The read floor: the least work any program must do to see every frame of a
// capture file through libpcap. It walks the file with pcap_dispatch and a
// callback that only adds up the wire lengths, then prints the sum, so that
// the benchmark can set tallywire's time against the bare cost of reading and
// check that both saw the same bytes.

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using pcap_handle = std::unique_ptr<pcap_t, pcap_closer>;

void add_length(u_char* user, const pcap_pkthdr* header, const u_char*) {
    *reinterpret_cast<std::uint64_t*>(user) += header->len;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s capture-file\n", argc > 0 ? argv[0] : "read_floor");
        return 2;
    }
    char error_text[PCAP_ERRBUF_SIZE] = {};
    pcap_handle handle{pcap_open_offline(argv[1], error_text)};
    if (!handle) {
        std::fprintf(stderr, "read_floor: %s\n", error_text);
        return 1;
    }
    std::uint64_t sum = 0;
    for (;;) {
        const int count = pcap_dispatch(handle.get(), -1, add_length,
                                        reinterpret_cast<u_char*>(&sum));
        if (count == 0) {
            break;
        }
        if (count < 0) {
            std::fprintf(stderr, "read_floor: %s\n", pcap_geterr(handle.get()));
            return 1;
        }
    }
    std::printf("%llu\n", static_cast<unsigned long long>(sum));
    return 0;
}
