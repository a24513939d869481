#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace twtest {
namespace {

// Reads what the pipe holds; false at its end.
bool drain(int fd, std::string& into) {
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
}

// Milliseconds for poll until the deadline; -1 (wait forever) without one.
int poll_timeout(bool has_deadline, std::chrono::steady_clock::time_point deadline) {
    if (!has_deadline) {
        return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

}  // namespace

std::string tallywire_path() { return TALLYWIRE_BINARY; }

std::string one_lookup_tallywire_path() { return TALLYWIRE_ONE_LOOKUP_BINARY; }

sigpipe_ignored::sigpipe_ignored() : previous_(std::signal(SIGPIPE, SIG_IGN)) {}
sigpipe_ignored::~sigpipe_ignored() { std::signal(SIGPIPE, previous_); }

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> words;
    words.push_back(options.argv0.empty() ? program : options.argv0);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
            close(fd);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    const sigpipe_ignored feeding_may_fail;  // the parent's only: the child keeps SIGPIPE
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);

    // Feed standard input while reading both outputs, so that neither side
    // blocks on a full pipe.
    run_result result;
    std::size_t written = 0;
    int in_fd = in_pipe[1];
    if (options.input.empty()) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    bool has_deadline = options.timeout_seconds > 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(options.timeout_seconds));
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        const int ready = poll(fds, 3, poll_timeout(has_deadline, deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            // A hung child: kill it, then read on until its pipes close.
            kill(child, SIGKILL);
            result.timed_out = true;
            has_deadline = false;
            continue;
        }
        if (fds[0].revents != 0 && !drain(out_fd, result.out)) {
            close(out_fd);
            out_fd = -1;
        }
        if (fds[1].revents != 0 && !drain(err_fd, result.err)) {
            close(err_fd);
            err_fd = -1;
        }
        if (fds[2].revents != 0) {
            const ssize_t n = write(in_fd, options.input.data() + written,
                                    options.input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (n < 0 || written == options.input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
    if (in_fd >= 0) {
        close(in_fd);
    }
    int wait_status = 0;
    rusage usage{};
    while (wait4(child, &wait_status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.max_rss_kib = usage.ru_maxrss;
    if (WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        result.status = 128 + WTERMSIG(wait_status);
    }
    return result;
}

run_result run_tallywire(const std::vector<std::string>& args, const run_options& options) {
    return run_program(tallywire_path(), args, options);
}

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tallywire-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void exec_words(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace twtest
