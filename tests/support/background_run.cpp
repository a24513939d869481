#include "support/background_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace twtest {

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

background_run::background_run(std::vector<std::string> words)
    : out_path_(dir_.file("out")), err_path_(dir_.file("err")) {
    started_ = std::chrono::steady_clock::now();
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDONLY);
        const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_words(std::move(words));
    }
}

background_run::~background_run() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void background_run::signal(int signal_number) const { kill(pid_, signal_number); }

run_result background_run::finish(double bound_seconds) {
    run_result result;
    int wait_status = 0;
    const auto start = std::chrono::steady_clock::now();
    while (waitpid(pid_, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start >
            std::chrono::duration<double>(bound_seconds)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &wait_status, 0);
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ended_ = std::chrono::steady_clock::now();
    result.status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.out = read_text(out_path_);
    result.err = read_text(err_path_);
    status_ = result.status;
    return result;
}

}  // namespace twtest
