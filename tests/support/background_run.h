#pragma once

// A program running in the background while a test acts on it, its outputs
// going to files; killed if it still runs when the object goes.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/process.h"

namespace twtest {

class background_run {
public:
    // words[0] is the program's path; standard input is /dev/null.
    explicit background_run(std::vector<std::string> words);
    ~background_run();
    background_run(const background_run&) = delete;
    background_run& operator=(const background_run&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signal_number) const;

    // Waits for the end, killing a run that outlives bound_seconds, and
    // returns how it ended and what it wrote.
    run_result finish(double bound_seconds);

    std::chrono::steady_clock::time_point started() const { return started_; }
    std::chrono::steady_clock::time_point ended() const { return ended_; }
    double run_seconds() const {
        return std::chrono::duration<double>(ended_ - started_).count();
    }

private:
    temp_dir dir_;
    std::string out_path_, err_path_;
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_, ended_;
    std::optional<int> status_;
};

}  // namespace twtest
