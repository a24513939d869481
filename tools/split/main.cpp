// tallywire-split: cuts a capture file into consecutive parts, as a capture
// rotated by size or time would have written them, through libpcap's own
// reader and dump API. Each part is a pcap file of the input's link type and
// snap length; part sizes differ by at most one frame. Tests and the
// benchmark use it to make the many-files case from one generated capture.
//
//   tallywire-split -n PARTS -o PREFIX FILE   writes PREFIX-1.pcap ... PREFIX-PARTS.pcap
//
// Timestamps are written at microsecond precision, whatever the input's.

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
struct dumper_closer {
    void operator()(pcap_dumper_t* dumper) const { pcap_dump_close(dumper); }
};
using capture_handle = std::unique_ptr<pcap_t, pcap_closer>;
using dump_handle = std::unique_ptr<pcap_dumper_t, dumper_closer>;

capture_handle open_capture(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE] = {};
    capture_handle handle{pcap_open_offline(path.c_str(), error)};
    if (!handle) {
        throw std::runtime_error(path + ": " + error);
    }
    return handle;
}

// Reads the next frame; false at the end of the file, throws on a damaged one,
// since a part short of frames would make a wrong test quietly.
bool next_frame(pcap_t* handle, const std::string& path, pcap_pkthdr*& header,
                const std::uint8_t*& data) {
    const int status = pcap_next_ex(handle, &header, &data);
    if (status == PCAP_ERROR_BREAK) {
        return false;
    }
    if (status != 1) {
        throw std::runtime_error(path + ": " + pcap_geterr(handle));
    }
    return true;
}

std::uint64_t count_frames(const std::string& path) {
    const capture_handle handle = open_capture(path);
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* data = nullptr;
    std::uint64_t frames = 0;
    while (next_frame(handle.get(), path, header, data)) {
        ++frames;
    }
    return frames;
}

dump_handle open_part(pcap_t* input, const std::string& path) {
    dump_handle dumper{pcap_dump_open(input, path.c_str())};
    if (!dumper) {
        throw std::runtime_error(path + ": " + pcap_geterr(input));
    }
    return dumper;
}

void close_part(dump_handle& dumper, const std::string& path) {
    if (pcap_dump_flush(dumper.get()) != 0) {
        throw std::runtime_error(path + ": write failed");
    }
    dumper.reset();
}

void split(const std::string& input_path, const std::string& prefix, std::uint64_t parts) {
    const std::uint64_t frames = count_frames(input_path);
    const capture_handle input = open_capture(input_path);
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* data = nullptr;
    for (std::uint64_t part = 0; part < parts; ++part) {
        // The first frames % parts parts take one frame more.
        const std::uint64_t share = frames / parts + (part < frames % parts ? 1 : 0);
        const std::string path = prefix + "-" + std::to_string(part + 1) + ".pcap";
        dump_handle dumper = open_part(input.get(), path);
        for (std::uint64_t i = 0; i < share; ++i) {
            if (!next_frame(input.get(), input_path, header, data)) {
                throw std::runtime_error(input_path + ": shorter on the second reading");
            }
            pcap_dump(reinterpret_cast<u_char*>(dumper.get()), header, data);
        }
        close_part(dumper, path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    long parts = 0;
    std::string prefix;
    int letter;
    while ((letter = getopt(argc, argv, "n:o:")) != -1) {
        switch (letter) {
        case 'n': parts = std::strtol(optarg, nullptr, 10); break;
        case 'o': prefix = optarg; break;
        default: parts = 0; break;
        }
    }
    if (parts < 1 || parts > 10000 || prefix.empty() || optind + 1 != argc) {
        std::fprintf(stderr, "usage: %s -n PARTS -o PREFIX FILE\n", argv[0]);
        return 2;
    }
    try {
        split(argv[optind], prefix, static_cast<std::uint64_t>(parts));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tallywire-split: %s\n", e.what());
        return 1;
    }
    return 0;
}
