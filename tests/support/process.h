#pragma once

// Running the real tallywire binary, and temporary folders for its files.

#include <filesystem>
#include <string>
#include <vector>

namespace twtest {

struct run_result {
    int status = -1;       // exit status, or 128 + signal number
    std::string out;       // standard output
    std::string err;       // standard error
    bool timed_out = false;  // killed after run_options::timeout_seconds
    long max_rss_kib = 0;    // the child's peak resident set size
};

struct run_options {
    std::string input;             // written to standard input
    std::string argv0;             // empty: the binary's path
    double timeout_seconds = 0;    // > 0: kill the child once it has run this long
};

// Runs program with args (not including argv[0]) and waits for it.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options = {});

// In a child after fork: replaces it with words[0] run with the words as
// its arguments; exits 127 when that cannot be done.
[[noreturn]] void exec_words(std::vector<std::string> words);

// Runs the tallywire binary of this build.
run_result run_tallywire(const std::vector<std::string>& args, const run_options& options = {});

std::string tallywire_path();

// The same program built to look names up one at a time, each by its own
// label (tools/one_lookup/main.cpp): what the concurrent lookups are
// compared with.
std::string one_lookup_tallywire_path();

// Ignores SIGPIPE while it lives, so that writing into a pipe whose reader
// has gone fails with EPIPE instead of killing the test program.
class sigpipe_ignored {
public:
    sigpipe_ignored();
    ~sigpipe_ignored();
    sigpipe_ignored(const sigpipe_ignored&) = delete;
    sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

private:
    void (*previous_)(int);
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace twtest
