// The timed capture without waiting for it: the handler is called directly
// (or the signal raised while it cannot end the test) and the armed timer
// is read back with getitimer.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include "capture/capture_timer.h"
#include "cli/program_state.h"

using namespace tallywire;

namespace {

itimerval read_timer() {
    itimerval timer{};
    getitimer(ITIMER_REAL, &timer);
    return timer;
}

double armed_seconds() {
    const itimerval timer = read_timer();
    return static_cast<double>(timer.it_value.tv_sec) +
           static_cast<double>(timer.it_value.tv_usec) / 1e6;
}

void disarm_timer() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
}

// Holds SIGALRM back while a test arms real timers, and leaves neither a
// timer, a pending signal nor a handler behind.
class alarm_guard {
public:
    alarm_guard() {
        sigaction(SIGALRM, nullptr, &old_alarm_);
        sigaction(SIGINT, nullptr, &old_interrupt_);
        sigset_t alarm_only;
        sigemptyset(&alarm_only);
        sigaddset(&alarm_only, SIGALRM);
        sigprocmask(SIG_BLOCK, &alarm_only, &old_mask_);
        disarm_timer();
        reset_program_state();
    }
    ~alarm_guard() {
        disarm_timer();
        sigset_t alarm_only;
        sigemptyset(&alarm_only);
        sigaddset(&alarm_only, SIGALRM);
        const timespec no_wait{};
        while (sigtimedwait(&alarm_only, nullptr, &no_wait) == SIGALRM) {
        }
        sigaction(SIGALRM, &old_alarm_, nullptr);
        sigaction(SIGINT, &old_interrupt_, nullptr);
        sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
        reset_program_state();
    }
    alarm_guard(const alarm_guard&) = delete;
    alarm_guard& operator=(const alarm_guard&) = delete;

    // True when SIGALRM became pending within the bound.
    static bool alarm_arrives(double bound_seconds) {
        sigset_t alarm_only;
        sigemptyset(&alarm_only);
        sigaddset(&alarm_only, SIGALRM);
        timespec bound{};
        bound.tv_sec = static_cast<time_t>(bound_seconds);
        bound.tv_nsec =
            static_cast<long>((bound_seconds - static_cast<double>(bound.tv_sec)) * 1e9);
        int received;
        while ((received = sigtimedwait(&alarm_only, nullptr, &bound)) < 0 && errno == EINTR) {
        }
        return received == SIGALRM;
    }

private:
    struct sigaction old_alarm_ {};
    struct sigaction old_interrupt_ {};
    sigset_t old_mask_{};
};

TEST(AlarmMicroseconds, NearestWholeMicrosecond) {
    struct rounding {
        double seconds;
        std::int64_t microseconds;
    };
    const rounding cases[] = {
        {600.0, 600000000},   {45.5, 45500000},     {2.0, 2000000}, {0.5, 500000},
        {1.2345674, 1234567}, {1.2345676, 1234568}, {0.0000006, 1}, {0.0000004, 0},
        {0.0000014, 1},       {0.0000016, 2},       {0.0, 0},
    };
    for (const rounding& c : cases) {
        EXPECT_EQ(alarm_microseconds(c.seconds), c.microseconds) << c.seconds;
    }
}

TEST(ArmAlarm, ArmsAOneShotTimer) {
    const alarm_guard guard;
    for (const double seconds : {45.5, 600.0, 2.0, 0.25}) {
        arm_alarm(seconds);
        const itimerval timer = read_timer();
        EXPECT_EQ(timer.it_interval.tv_sec, 0);
        EXPECT_EQ(timer.it_interval.tv_usec, 0);
        EXPECT_LE(armed_seconds(), seconds);
        EXPECT_GT(armed_seconds(), seconds - 0.5);
    }
}

// A positive time too short to round to a whole microsecond must still
// fire: a timer armed with 0 is a disarmed timer, and the capture would
// never end.
TEST(ArmAlarm, TimeBelowHalfAMicrosecondStillFires) {
    const alarm_guard guard;
    for (const double seconds : {0.0000004, 1e-9, 1e-300}) {
        arm_alarm(seconds);
        EXPECT_TRUE(alarm_guard::alarm_arrives(5.0)) << seconds;
    }
}

struct limit_case {
    double limit;
    std::vector<double> remaining_after_rearm;  // seconds_remaining after each re-arming expiry
    double remaining_at_stop;
};

void PrintTo(const limit_case& c, std::ostream* out) { *out << "limit " << c.limit << " s"; }

class TimerChunks : public ::testing::TestWithParam<limit_case> {};

// The capture's start arms the smaller of 600 s and the limit; every expiry
// takes 600 s off and re-arms the rest, at most 600 s, until nothing is left.
TEST_P(TimerChunks, CountedDownUntilTheLimitHasPassed) {
    const limit_case& c = GetParam();
    const alarm_guard guard;
    capture_running = 1;
    seconds_remaining = c.limit;
    arm_alarm(std::min(timer_chunk_seconds, c.limit));
    EXPECT_NEAR(armed_seconds(), std::min(600.0, c.limit), 0.5);

    for (const double remaining : c.remaining_after_rearm) {
        disarm_timer();
        capture_signal_handler(SIGALRM);
        EXPECT_EQ(capture_running, 1);
        EXPECT_DOUBLE_EQ(seconds_remaining.load(), remaining);
        EXPECT_NEAR(armed_seconds(), std::min(600.0, remaining), 0.5);
    }
    disarm_timer();
    capture_signal_handler(SIGALRM);
    EXPECT_EQ(capture_running, 0);
    EXPECT_DOUBLE_EQ(seconds_remaining.load(), c.remaining_at_stop);
    EXPECT_EQ(armed_seconds(), 0.0) << "no timer after the last expiry";
}

INSTANTIATE_TEST_SUITE_P(Limits, TimerChunks,
                         ::testing::Values(limit_case{1500, {900, 300}, -300},
                                           limit_case{600, {}, 0}, limit_case{45.5, {}, -554.5},
                                           limit_case{1200, {600}, 0},
                                           limit_case{600.5, {0.5}, -599.5},
                                           limit_case{1800.25, {1200.25, 600.25, 0.25}, -599.75}));

TEST(CaptureSignalHandler, InterruptStopsAtOnceWithoutRearming) {
    const alarm_guard guard;
    capture_running = 1;
    seconds_remaining = 1500;
    capture_signal_handler(SIGINT);
    EXPECT_EQ(capture_running, 0);
    EXPECT_DOUBLE_EQ(seconds_remaining.load(), 900);
    EXPECT_EQ(armed_seconds(), 0.0);
}

// After the capture, a pending timer or an interrupt during the report only
// updates the capture state again.
TEST(CaptureSignalHandler, AfterTheCaptureOnlyTheStateChanges) {
    const alarm_guard guard;
    capture_running = 0;
    seconds_remaining = -300;
    capture_signal_handler(SIGALRM);
    capture_signal_handler(SIGINT);
    EXPECT_EQ(capture_running, 0);
    EXPECT_DOUBLE_EQ(seconds_remaining.load(), -1500);
    EXPECT_EQ(armed_seconds(), 0.0);
}

// The handler stays in place after each delivery: every chunk needs it, and
// an interrupt during the report must not end the program.
TEST(InstallCaptureHandler, StaysInstalledAcrossDeliveries) {
    const alarm_guard guard;
    install_capture_handler(SIGALRM);
    install_capture_handler(SIGINT);
    for (const int signal_number : {SIGALRM, SIGINT}) {
        struct sigaction installed {};
        sigaction(signal_number, nullptr, &installed);
        EXPECT_EQ(installed.sa_handler, &capture_signal_handler);
        EXPECT_EQ(installed.sa_flags & (SA_RESETHAND | SA_RESTART), 0);
    }

    capture_running = 1;
    seconds_remaining = 1200;
    raise(SIGALRM);  // held back until unblocked below
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    sigset_t blocked;
    sigprocmask(SIG_UNBLOCK, &alarm_only, &blocked);
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
    EXPECT_EQ(capture_running, 1);
    EXPECT_DOUBLE_EQ(seconds_remaining.load(), 600);

    raise(SIGINT);  // delivered at once: SIGINT is not blocked
    EXPECT_EQ(capture_running, 0);
    raise(SIGINT);  // and again, without ending the process
    EXPECT_DOUBLE_EQ(seconds_remaining.load(), -600);
}

}  // namespace
