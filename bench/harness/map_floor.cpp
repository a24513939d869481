// The mapping floor: the physical cost of reading a capture file from the
// page cache. It maps the file, walks its record headers and touches every
// captured byte, then prints the sum of the wire lengths, as the read floor
// does, so that the benchmark can set tallywire's time against it too and
// check that both saw the same traffic. Classic pcap only (either byte
// order, microsecond, nanosecond or modified), which is what the
// benchmark's captures are.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

std::uint32_t word(const unsigned char* at, bool swapped) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return swapped ? __builtin_bswap32(value) : value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s capture-file\n", argc > 0 ? argv[0] : "map_floor");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || status.st_size < 24) {
        std::fprintf(stderr, "map_floor: %s: cannot open a capture there\n", argv[1]);
        return 1;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* const mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
        std::perror("map_floor: mmap");
        return 1;
    }
    madvise(mapped, size, MADV_SEQUENTIAL);
    const auto* const file = static_cast<const unsigned char*>(mapped);
    const std::uint32_t magic = word(file, false);
    const bool swapped = magic == 0xd4c3b2a1 || magic == 0x4d3cb2a1 || magic == 0x34cdb2a1;
    const std::uint32_t host_magic = swapped ? __builtin_bswap32(magic) : magic;
    if (host_magic != 0xa1b2c3d4 && host_magic != 0xa1b23c4d && host_magic != 0xa1b2cd34) {
        std::fprintf(stderr, "map_floor: %s: not a classic pcap file\n", argv[1]);
        return 1;
    }
    const std::size_t record_header = host_magic == 0xa1b2cd34 ? 24 : 16;
    std::uint64_t wire = 0;
    std::uint64_t touched = 0;
    std::size_t at = 24;
    while (size - at >= record_header) {
        const std::uint32_t captured = word(file + at + 8, swapped);
        wire += word(file + at + 12, swapped);
        at += record_header;
        if (captured > size - at) {
            std::fprintf(stderr, "map_floor: %s: a record is cut short\n", argv[1]);
            return 1;
        }
        for (std::size_t i = 0; i < captured; ++i) {
            touched += file[at + i];
        }
        at += captured;
    }
    // The byte sum is kept from being optimised away, not printed.
    if (touched == 1) {
        std::fputs("", stderr);
    }
    std::printf("%llu\n", static_cast<unsigned long long>(wire));
    munmap(mapped, size);
    close(fd);
    return 0;
}
