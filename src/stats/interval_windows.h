#pragma once

// The run cut into intervals of one length, aligned to multiples of it since
// the Unix epoch, each counted into tables of its own (open_tables) and
// handed to an emitter, in time order, once it is closed.
//
// An interval stays open for a hold after its end, so that a frame stamped
// a little out of order still counts in its own interval: a capture file's
// intervals are held for one interval length (by the frames' own time), a
// live capture's for a short grace (by the clock too). A frame older than
// every open interval is counted in the oldest open one, which keeps the
// number of such late frames. Frames are never dropped for their time.
// Intervals before the first frame (or, live, before the start) are not
// emitted; every later one is, with frames or not.
//
// At most three intervals are open at once, and the tables of a closed one
// are kept for the next: memory is that of the largest intervals' keys,
// however many intervals the run spans.

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "capture/frame_view.h"
#include "stats/accounting_context.h"
#include "stats/table_records.h"

namespace tallywire {

struct closed_interval {
    std::int64_t start_microseconds = 0;  // since the epoch, a multiple of the length
    std::int64_t end_microseconds = 0;
    std::span<stat_table> tables;  // one per kind, in bit order; the emitter may empty them
    std::uint64_t late = 0;        // frames that came after this interval's hold
    bool last = false;             // the run's last interval
    bool partial = false;          // the run stopped within it
};

// Writes a closed interval's report: 0, or -1 when it could not be written
// (no further interval is then emitted).
using interval_emitter = int (*)(closed_interval& interval, void* emitter_arg);

class interval_windows {
public:
    interval_windows(std::uint32_t kinds, const accounting_context& context,
                     std::int64_t length_microseconds, std::int64_t hold_microseconds,
                     interval_emitter emitter, void* emitter_arg);

    // Makes the tables of the first interval: 0, or -1 with errno set.
    int open();

    // Opens the interval of now and emits every interval from it on, with
    // frames or not: a live capture's reports begin with its start.
    void begin_at(std::int64_t now_microseconds);

    // Counts the frame into its interval, or the oldest open one when it
    // comes after its interval's hold; a table error ends the program.
    void count(const frame_view& frame) {
        const std::int64_t at = frame.timestamp.seconds * 1'000'000 +
                                frame.timestamp.microseconds;
        if (at >= newest_start_ && at < newest_end_) [[likely]] {
            account(open_.back(), frame);
            return;
        }
        count_elsewhere(frame, at);
    }

    // The time has reached now: every interval whose hold has passed is
    // closed and emitted.
    void advance_to(std::int64_t now_microseconds);

    // Emits every interval still open, the last marked partial if asked.
    // 0, or -1 when an emission failed, now or before.
    int finish(bool last_partial);

    bool failed() const { return failed_; }

private:
    struct window {
        std::int64_t index = 0;
        std::vector<stat_table> tables;
        std::uint64_t frames = 0;
        std::uint64_t late = 0;
    };

    void account(window& into, const frame_view& frame);
    void count_elsewhere(const frame_view& frame, std::int64_t at);
    void push_window(std::int64_t index);
    void close_front(bool last, bool partial);
    std::int64_t index_of(std::int64_t at) const;

    std::uint32_t kinds_;
    accounting_context context_;
    std::int64_t length_;
    std::int64_t hold_;
    interval_emitter emitter_;
    void* emitter_arg_;

    std::deque<window> open_;
    // Tables of closed intervals, emptied by their report, for the next.
    std::vector<std::vector<stat_table>> spare_;
    // The newest open interval's bounds, for the per-frame test; empty
    // while no interval is open.
    std::int64_t newest_index_ = 0;
    std::int64_t newest_start_ = 0;
    std::int64_t newest_end_ = 0;
    std::int64_t latest_time_ = 0;
    bool any_time_ = false;
    bool emitting_ = false;  // an interval has been emitted, or begin_at said to
    bool failed_ = false;
};

}  // namespace tallywire
