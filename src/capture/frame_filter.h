#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_file_reader.h"

struct pcap;
struct bpf_program;

namespace tallywire {

// A -f expression applied to frames that tallywire reads itself: compiled
// once for each link type met (the expression's meaning depends on it),
// through a capture handle that reads nothing, and run on each frame by
// libpcap's filter machine. The empty expression accepts every frame and
// is compiled for none.
class frame_filter {
public:
    explicit frame_filter(std::string expression);
    ~frame_filter();
    frame_filter(const frame_filter&) = delete;
    frame_filter& operator=(const frame_filter&) = delete;

    // Compiles the expression for every link type of datalinks it has not
    // compiled it for yet. False, with "pcap_compile(): TEXT" on standard
    // error, when one does not compile.
    bool prepare(const std::vector<int>& datalinks);

    // Whether the frame passes; its link type has been prepared.
    bool accepts(const file_frame& frame) const {
        return expression_.empty() || run_program(frame);
    }

private:
    struct compiled;
    bool run_program(const file_frame& frame) const;

    std::string expression_;
    std::vector<std::unique_ptr<compiled>> programs_;
    mutable const compiled* last_ = nullptr;
};

}  // namespace tallywire
