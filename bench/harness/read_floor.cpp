// The read floor: the least work any program must do to see every frame of a
// capture file through libpcap. It walks the file with pcap_dispatch and a
// callback that only adds up the wire lengths, then prints the sum, so that
// the benchmark can set tallywire's time against the bare cost of reading and
// check that both saw the same bytes.
//
// It opens the file as tallywire does: with stdio, through a 256 KiB buffer,
// handed to libpcap as a FILE*. Left to libpcap, stdio reads through a buffer
// of the file system's block size (4 KiB), which makes the floor slower than
// tallywire's own reading and every ratio look better than it is.

#include <pcap/pcap.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::size_t file_buffer_size = std::size_t{256} << 10;

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
    // Declared before the handle, so that it outlives the file that pcap_close
    // closes. Without memory for it, stdio's own buffer serves.
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[file_buffer_size]);
    std::FILE* const file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "read_floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    if (buffer) {
        std::setvbuf(file, buffer.get(), _IOFBF, file_buffer_size);
    }
    char error_text[PCAP_ERRBUF_SIZE] = {};
    pcap_handle handle{pcap_fopen_offline(file, error_text)};
    if (!handle) {
        // libpcap takes the file only once it has read a header from it.
        std::fclose(file);
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
