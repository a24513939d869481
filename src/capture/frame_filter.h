#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_file_reader.h"

namespace tallywire {

// A -f expression applied to frames that tallywire reads itself: compiled
// once for each link type met (the expression's meaning depends on it) and
// run on each frame by libpcap's filter machine. The empty expression
// accepts every frame and is compiled for none.
//
// It is compiled on a capture handle opened on a bare file header of the
// link type and byte order, not on a dead handle: libpcap compiles some
// expressions for files differently from live captures (IPv6 on a loopback
// link matches every system's family number in a file, only this
// system's live), and the frames here come from files.
class frame_filter {
public:
    explicit frame_filter(std::string expression);
    ~frame_filter();
    frame_filter(const frame_filter&) = delete;
    frame_filter& operator=(const frame_filter&) = delete;

    // Compiles the expression for every link of links it has not compiled
    // it for yet. False, with "pcap_compile(): TEXT" on standard error,
    // when one does not compile.
    bool prepare(const std::vector<file_link>& links);

    // Whether the frame passes; its link has been prepared.
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
