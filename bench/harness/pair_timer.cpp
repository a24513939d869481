// Times a program against its floor in interleaved pairs: floor, subject,
// floor, subject ... The floor is any command: the bare read of a capture,
// or another tallywire run whose cost the subject is set against; both sides
// are treated alike, output included. Interleaving spreads drifts of the
// machine (frequency, cache, noisy neighbours) over both sides evenly, so
// the median of the pair ratios is steadier than a ratio of two separate
// medians. Each child is reaped with wait4, whose rusage gives that child's
// own peak resident size.
//
// pair_timer [-n pairs] [-f floor-stdout] [-s subject-stdout] [-k file]...
//            -- floor-program args... -- subject-program args...
//
// -k keeps a file the commands read in memory (mapped and locked) while the
// pairs run. A machine that reclaims cold page cache on its own (DAMON's
// pageout, say) would otherwise drop a large input between one case's runs
// and the next, and a run that reads it back from disk times the disk.
//
// The named files receive the standard output of the untimed first run of
// each side; the timed runs write to /dev/null, so that a report of a
// million lines costs its formatting and its writes but no file system work
// that would vary with the state of the disk.
//
// Prints "key value" lines on standard output; exits 1 when a child cannot
// run or fails, 2 on a bad command line.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct child_run {
    double wall_seconds = 0;
    double cpu_seconds = 0;
    long peak_rss_kib = 0;
};

struct command {
    std::vector<char*> argv;  // null-terminated, for execvp
    std::string stdout_path = "/dev/null";  // of the untimed run only
};

constexpr const char* discarded_output = "/dev/null";

class unique_fd {
public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A file mapped and locked in memory for as long as this lives; when the
// system refuses the lock, a warning, and the timings go on without it.
class resident_file {
public:
    explicit resident_file(const std::string& path) {
        const unique_fd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
        struct stat status {};
        if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
            throw std::runtime_error(path + ": " + std::strerror(errno));
        }
        size_ = static_cast<std::size_t>(status.st_size);
        if (size_ == 0) {
            return;
        }
        void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
        if (mapped == MAP_FAILED) {
            throw std::runtime_error(path + ": " + std::strerror(errno));
        }
        base_ = mapped;
        if (::mlock(base_, size_) != 0) {
            std::fprintf(stderr,
                         "pair_timer: cannot keep %s in memory (%s): runs may read it from disk\n",
                         path.c_str(), std::strerror(errno));
        }
    }
    ~resident_file() {
        if (base_ != nullptr) {
            ::munmap(base_, size_);
        }
    }
    resident_file(const resident_file&) = delete;
    resident_file& operator=(const resident_file&) = delete;

private:
    void* base_ = nullptr;
    std::size_t size_ = 0;
};

double seconds_of(const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; }

// Runs the command to its end; throws when it cannot be started or does not
// exit with status 0, since a failing run would time the wrong thing.
child_run run_once(const command& cmd, const std::string& stdout_path) {
    // Opened before fork so that an unwritable output path is reported here,
    // not as a mysterious exec failure.
    unique_fd out{::open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (out.get() < 0) {
        throw std::runtime_error(stdout_path + ": " + std::strerror(errno));
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        if (::dup2(out.get(), STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
        ::execvp(cmd.argv[0], cmd.argv.data());
        std::fprintf(stderr, "pair_timer: %s: %s\n", cmd.argv[0], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
        }
    }
    const auto stop = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string how = WIFSIGNALED(status)
                                    ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exit status " + std::to_string(WEXITSTATUS(status));
        throw std::runtime_error(std::string(cmd.argv[0]) + ": " + how);
    }
    child_run run;
    run.wall_seconds = std::chrono::duration<double>(stop - start).count();
    run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    run.peak_rss_kib = usage.ru_maxrss;
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct options {
    int pairs = 5;
    command floor;
    command subject;
    std::vector<std::string> resident;  // -k
};

[[noreturn]] void usage_error(std::string_view why) {
    std::fprintf(stderr,
                 "pair_timer: %.*s\n"
                 "usage: pair_timer [-n pairs] [-f floor-stdout] [-s subject-stdout] "
                 "[-k file]... -- floor args... -- subject args...\n",
                 static_cast<int>(why.size()), why.data());
    std::exit(2);
}

options parse_options(std::span<char*> args) {
    options opts;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (word == "--") {
            break;
        }
        if (i + 1 >= args.size()) {
            usage_error("option without its argument: " + std::string(word));
        }
        const char* value = args[++i];
        if (word == "-n") {
            opts.pairs = std::atoi(value);
        } else if (word == "-f") {
            opts.floor.stdout_path = value;
        } else if (word == "-s") {
            opts.subject.stdout_path = value;
        } else if (word == "-k") {
            opts.resident.emplace_back(value);
        } else {
            usage_error("unknown option " + std::string(word));
        }
    }
    // Split what follows at the second "--" into the two commands.
    command* target = &opts.floor;
    for (++i; i < args.size(); ++i) {
        if (std::string_view(args[i]) == "--" && target == &opts.floor) {
            target = &opts.subject;
            continue;
        }
        target->argv.push_back(args[i]);
    }
    if (opts.pairs < 1) {
        usage_error("the number of pairs must be at least 1");
    }
    if (opts.floor.argv.empty() || opts.subject.argv.empty()) {
        usage_error("both a floor and a subject command are needed");
    }
    opts.floor.argv.push_back(nullptr);
    opts.subject.argv.push_back(nullptr);
    return opts;
}

}  // namespace

int main(int argc, char** argv) {
    const options opts = parse_options(std::span<char*>(argv + 1, static_cast<std::size_t>(argc - 1)));
    try {
        std::vector<std::unique_ptr<resident_file>> resident;
        for (const std::string& path : opts.resident) {
            resident.push_back(std::make_unique<resident_file>(path));
        }
        // One untimed run of each first: it brings the file into the page
        // cache and the programs' pages into memory, which every timed run
        // after it then finds the same way.
        run_once(opts.floor, opts.floor.stdout_path);
        run_once(opts.subject, opts.subject.stdout_path);

        std::vector<double> floor_wall, subject_wall, ratios, subject_cpu;
        long floor_rss = 0, subject_rss = 0;
        std::printf("pairs %d\n", opts.pairs);
        for (int pair = 1; pair <= opts.pairs; ++pair) {
            const child_run f = run_once(opts.floor, discarded_output);
            const child_run s = run_once(opts.subject, discarded_output);
            floor_wall.push_back(f.wall_seconds);
            subject_wall.push_back(s.wall_seconds);
            subject_cpu.push_back(s.cpu_seconds);
            ratios.push_back(s.wall_seconds / f.wall_seconds);
            floor_rss = std::max(floor_rss, f.peak_rss_kib);
            subject_rss = std::max(subject_rss, s.peak_rss_kib);
            std::printf("pair %d %.6f %.6f %.4f\n", pair, f.wall_seconds, s.wall_seconds, ratios.back());
        }
        std::printf("floor_wall_s %.6f\n", median(floor_wall));
        std::printf("subject_wall_s %.6f\n", median(subject_wall));
        std::printf("subject_cpu_s %.6f\n", median(subject_cpu));
        std::printf("ratio %.4f\n", median(ratios));
        std::printf("ratio_min %.4f\n", *std::min_element(ratios.begin(), ratios.end()));
        std::printf("ratio_max %.4f\n", *std::max_element(ratios.begin(), ratios.end()));
        std::printf("floor_rss_kib %ld\n", floor_rss);
        std::printf("subject_rss_kib %ld\n", subject_rss);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "pair_timer: %s\n", failure.what());
        return 1;
    }
    return 0;
}
