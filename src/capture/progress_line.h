#pragma once

// One line on standard error that tells how far a long run has come: rewritten
// in place, and erased before anything else is written to either output. It
// exists only while standard error is a terminal, so that scripts, pipes and
// logs see exactly what they would see without it.

#include <chrono>
#include <string_view>

namespace tallywire {

// Whether standard error is a terminal; asked once per process.
bool progress_wanted();

// Replaces the line with text, cut to the terminal's width so that it never
// wraps. Does nothing unless progress_wanted().
void show_progress(std::string_view text) noexcept;

// Takes the line away, leaving the cursor where it began. Cheap and harmless
// when no line is shown: whoever writes to standard error or standard output
// while a line may stand calls it first.
void erase_progress() noexcept;

// When a line is due: first after a delay (a run that ends sooner shows
// nothing), then a few times a second.
class progress_pace {
public:
    using clock = std::chrono::steady_clock;

    explicit progress_pace(clock::duration first_delay = std::chrono::seconds(1));

    // True when a line is due at now; the next one is then due a refresh
    // interval later.
    bool due(clock::time_point now);

    clock::time_point started() const { return started_; }
    double seconds_since_start(clock::time_point now) const;

private:
    clock::time_point started_;
    clock::time_point next_;
};

}  // namespace tallywire
