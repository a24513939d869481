#include "capture/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

namespace tallywire {
namespace {

constexpr auto refresh_interval = std::chrono::milliseconds(250);
// Used when the terminal does not say how wide it is.
constexpr std::size_t fallback_width = 80;

// Width of the text last shown; 0 when no line stands.
std::size_t shown_width = 0;

// Writes all of text; a signal (the capture's own SIGINT or SIGALRM) may cut
// a write to a terminal short.
void write_all(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// One column short of the terminal's width: a line that fills the last
// column makes some terminals wrap, and the next rewrite would start a line
// too low.
std::size_t usable_width() {
    winsize size{};
    const std::size_t columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                                    ? size.ws_col
                                    : fallback_width;
    return columns > 1 ? columns - 1 : 1;
}

}  // namespace

bool progress_wanted() {
    static const bool wanted = isatty(STDERR_FILENO) == 1;
    return wanted;
}

void show_progress(std::string_view text) noexcept {
    if (!progress_wanted()) {
        return;
    }
    text = text.substr(0, usable_width());
    // Carriage return, the new text, and blanks over what is left of a longer
    // previous one: plain characters that every terminal understands.
    try {
        std::string line = "\r";
        line.append(text);
        if (shown_width > text.size()) {
            line.append(shown_width - text.size(), ' ');
            line.append("\r");
            line.append(text);
        }
        write_all(line);
        shown_width = std::max<std::size_t>(text.size(), 1);
    } catch (const std::bad_alloc&) {
        // Without memory for the line, the old one stands until erased.
    }
}

void erase_progress() noexcept {
    if (shown_width == 0) {
        return;
    }
    // Blanks in fixed pieces: erasing must work when nothing else does.
    static constexpr std::string_view blanks = "                                ";
    write_all("\r");
    for (std::size_t left = shown_width; left > 0;) {
        const std::size_t piece = std::min(left, blanks.size());
        write_all(blanks.substr(0, piece));
        left -= piece;
    }
    write_all("\r");
    shown_width = 0;
}

progress_pace::progress_pace(clock::duration first_delay)
    : started_(clock::now()), next_(started_ + first_delay) {}

bool progress_pace::due(clock::time_point now) {
    if (now < next_) {
        return false;
    }
    next_ = now + refresh_interval;
    return true;
}

double progress_pace::seconds_since_start(clock::time_point now) const {
    return std::chrono::duration<double>(now - started_).count();
}

}  // namespace tallywire
