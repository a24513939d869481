#pragma once

// Compressed copies of capture files, made by the gzip and zstd commands
// as a user would make them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "support/process.h"

namespace twtest {

struct packer {
    const char* name;     // as messages name the decompressor
    const char* command;  // compresses standard input to standard output
    const char* suffix;
};

inline const packer gzip_packer{"gzip", "gzip -c", ".gz"};
inline const packer zstd_packer{"zstd", "zstd -q -c", ".zst"};

inline void PrintTo(const packer& p, std::ostream* out) { *out << p.name; }

// Why a test that needs the packer's command cannot run; empty when it can.
inline std::string packer_missing(const packer& p) {
    const run_result found =
        run_program("/bin/sh", {"-c", std::string("command -v ") + p.name + " >/dev/null"});
    return found.status == 0 ? "" : std::string("the ") + p.name + " command is not installed";
}

// Writes path + suffix, compressed from the file at path; returns its name.
inline std::string pack(const packer& p, const std::string& path, const std::string& options = "") {
    const std::string packed = path + p.suffix;
    const run_result run = run_program(
        "/bin/sh", {"-c", std::string("exec ") + p.command + " " + options + " <\"$0\" >\"$1\"",
                    path, packed});
    EXPECT_EQ(run.status, 0) << run.err;
    return packed;
}

struct pipe_closer {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

// Writes the compressed file at path from what write puts into the
// packer's input, without the uncompressed bytes ever being on disk or in
// memory whole.
inline void pack_stream(const packer& p, const std::string& path,
                        const std::function<void(std::FILE*)>& write) {
    const sigpipe_ignored guard;
    std::unique_ptr<std::FILE, pipe_closer> pipe(
        popen((std::string(p.command) + " -1 >'" + path + "'").c_str(), "w"));
    ASSERT_TRUE(pipe) << "cannot start " << p.command;
    write(pipe.get());
}

}  // namespace twtest
