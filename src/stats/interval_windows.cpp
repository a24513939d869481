#include "stats/interval_windows.h"

#include <utility>

#include "stats/accounting.h"
#include "stats/stat_tables.h"

namespace tallywire {

interval_windows::interval_windows(std::uint32_t kinds, const accounting_context& context,
                                   std::int64_t length_microseconds,
                                   std::int64_t hold_microseconds, interval_emitter emitter,
                                   void* emitter_arg)
    : kinds_(kinds),
      context_(context),
      length_(length_microseconds),
      hold_(hold_microseconds),
      emitter_(emitter),
      emitter_arg_(emitter_arg) {}

int interval_windows::open() {
    std::vector<stat_table> tables;
    if (open_tables(kinds_, context_, tables) != 0) {
        return -1;
    }
    spare_.push_back(std::move(tables));
    return 0;
}

// Floor division: a frame stamped before 1970 belongs to the interval that
// holds it, not to the one after.
std::int64_t interval_windows::index_of(std::int64_t at) const {
    const std::int64_t quotient = at / length_;
    return (at % length_ != 0 && at < 0) ? quotient - 1 : quotient;
}

void interval_windows::begin_at(std::int64_t now_microseconds) {
    emitting_ = true;
    advance_to(now_microseconds);
}

void interval_windows::push_window(std::int64_t index) {
    window opened;
    opened.index = index;
    if (!spare_.empty()) {
        opened.tables = std::move(spare_.back());
        spare_.pop_back();
    } else if (open_tables(kinds_, context_, opened.tables) != 0) {
        end_on_table_error("Fatal! dbopen()");
    }
    open_.push_back(std::move(opened));
    newest_index_ = index;
    newest_start_ = index * length_;
    newest_end_ = newest_start_ + length_;
}

void interval_windows::close_front(bool last, bool partial) {
    window closed = std::move(open_.front());
    open_.pop_front();
    if (closed.frames == 0 && !emitting_) {
        // Before the first frame: nothing to report.
        spare_.push_back(std::move(closed.tables));
        return;
    }
    emitting_ = true;
    if (failed_) {
        return;  // its tables go with it: nothing will empty them now
    }
    closed_interval interval;
    interval.start_microseconds = closed.index * length_;
    interval.end_microseconds = interval.start_microseconds + length_;
    interval.tables = closed.tables;
    interval.late = closed.late;
    interval.last = last;
    interval.partial = partial;
    if (emitter_(interval, emitter_arg_) != 0) {
        failed_ = true;
        return;
    }
    // The report took every row: the tables are empty, and serve again.
    spare_.push_back(std::move(closed.tables));
}

void interval_windows::advance_to(std::int64_t now_microseconds) {
    if (!open_.empty() && now_microseconds <= latest_time_) {
        return;
    }
    latest_time_ = now_microseconds;
    const std::int64_t target = index_of(now_microseconds);
    const auto due = [this] {
        return (open_.front().index + 1) * length_ + hold_ <= latest_time_;
    };
    if (open_.empty()) {
        // From a file, the interval before the first frame's is opened too,
        // for frames a little out of order; it is reported only if one comes.
        push_window(emitting_ ? target : target - 1);
    }
    // One interval after another, so that a long gap costs time, not memory.
    while (newest_index_ < target) {
        while (!open_.empty() && due()) {
            close_front(false, false);
        }
        push_window(newest_index_ + 1);
    }
    while (open_.size() > 1 && due()) {
        close_front(false, false);
    }
}

void interval_windows::account(window& into, const frame_view& frame) {
    account_packet_into(into.tables, frame, context_);
    ++into.frames;
}

void interval_windows::count_elsewhere(const frame_view& frame, std::int64_t at) {
    advance_to(at);
    const std::int64_t index = index_of(at);
    if (index < open_.front().index) {
        // The interval held before a file's first frame is not reported
        // unless a frame is its own: a late one counts in the first that is.
        window& oldest = !emitting_ && open_.front().frames == 0 && open_.size() > 1
                             ? open_[1]
                             : open_.front();
        ++oldest.late;
        account(oldest, frame);
        return;
    }
    for (window& candidate : open_) {
        if (candidate.index == index) {
            account(candidate, frame);
            return;
        }
    }
}

int interval_windows::finish(bool last_partial) {
    while (!open_.empty()) {
        const bool last = open_.size() == 1;
        close_front(last, last && last_partial);
    }
    return failed_ ? -1 : 0;
}

}  // namespace tallywire
