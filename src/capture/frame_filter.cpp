#include "capture/frame_filter.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "capture/link_type_numbers.h"

namespace tallywire {

struct frame_filter::compiled {
    file_link link;
    bpf_program program{};

    compiled() = default;
    ~compiled() { pcap_freecode(&program); }
    compiled(const compiled&) = delete;
    compiled& operator=(const compiled&) = delete;
};

namespace {

struct pcap_closer {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using pcap_handle = std::unique_ptr<pcap_t, pcap_closer>;

// A capture handle on nothing but a classic file header of the link type
// in the given byte order. The link type's DLT_ value stands in the header
// as its file number: the few renumbered DLT_ values read back as
// themselves (link_type_numbers.h).
pcap_handle file_handle(const file_link& link, char* errbuf) {
    const auto word = [&](std::uint32_t value) {
        return link.other_order ? __builtin_bswap32(value) : value;
    };
    const auto half = [&](std::uint16_t value) {
        return link.other_order ? __builtin_bswap16(value) : value;
    };
    struct {
        std::uint32_t magic;
        std::uint16_t major, minor;
        std::uint32_t zone, accuracy, snap_length, link_type;
    } header = {word(0xa1b2c3d4), half(2), half(4), 0, 0, word(maximum_captured_length),
                word(static_cast<std::uint32_t>(link.datalink))};
    static_assert(sizeof header == 24);
    std::FILE* const file = fmemopen(&header, sizeof header, "rb");
    if (file == nullptr) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "out of memory");
        return nullptr;
    }
    // The header has been read once the handle is open; libpcap closes the
    // stream with the handle.
    pcap_t* const handle = pcap_fopen_offline(file, errbuf);
    if (handle == nullptr) {
        std::fclose(file);
    }
    return pcap_handle(handle);
}

}  // namespace

frame_filter::frame_filter(std::string expression) : expression_(std::move(expression)) {}

frame_filter::~frame_filter() = default;

bool frame_filter::prepare(const std::vector<file_link>& links) {
    if (expression_.empty()) {
        return true;
    }
    for (const file_link& link : links) {
        if (std::any_of(programs_.begin(), programs_.end(),
                        [&](const auto& p) { return p->link == link; })) {
            continue;
        }
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        const pcap_handle dead = file_handle(link, errbuf);
        if (!dead) {
            std::fprintf(stderr, "pcap_compile(): %s\n", errbuf);
            return false;
        }
        auto entry = std::make_unique<compiled>();
        entry->link = link;
        // Netmask 0, as for a file libpcap reads: "ip broadcast" compiles.
        if (pcap_compile(dead.get(), &entry->program, expression_.c_str(), 1, 0) < 0) {
            entry->program = bpf_program{};
            std::fprintf(stderr, "pcap_compile(): %s\n", pcap_geterr(dead.get()));
            return false;
        }
        programs_.push_back(std::move(entry));
    }
    return true;
}

bool frame_filter::run_program(const file_frame& frame) const {
    const file_link link{frame.datalink, frame.other_order};
    if (last_ == nullptr || !(last_->link == link)) {
        last_ = nullptr;
        for (const auto& p : programs_) {
            if (p->link == link) {
                last_ = p.get();
            }
        }
        if (last_ == nullptr) {
            return false;  // never prepared: no frame of it passes
        }
    }
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
    header.len = frame.wire_length;
    return pcap_offline_filter(&last_->program, &header, frame.bytes.data()) != 0;
}

}  // namespace tallywire
