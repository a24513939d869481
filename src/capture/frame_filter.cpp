#include "capture/frame_filter.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "capture/link_type_numbers.h"

namespace tallywire {

struct frame_filter::compiled {
    int datalink = 0;
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

}  // namespace

frame_filter::frame_filter(std::string expression) : expression_(std::move(expression)) {}

frame_filter::~frame_filter() = default;

bool frame_filter::prepare(const std::vector<int>& datalinks) {
    if (expression_.empty()) {
        return true;
    }
    for (const int datalink : datalinks) {
        if (std::any_of(programs_.begin(), programs_.end(),
                        [&](const auto& p) { return p->datalink == datalink; })) {
            continue;
        }
        const std::unique_ptr<pcap_t, pcap_closer> dead(
            pcap_open_dead(datalink, static_cast<int>(maximum_captured_length)));
        if (!dead) {
            std::fputs("pcap_compile(): out of memory\n", stderr);
            return false;
        }
        auto entry = std::make_unique<compiled>();
        entry->datalink = datalink;
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
    if (last_ == nullptr || last_->datalink != frame.datalink) {
        last_ = nullptr;
        for (const auto& p : programs_) {
            if (p->datalink == frame.datalink) {
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
