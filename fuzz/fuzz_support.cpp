#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace twfuzz {

namespace {

// Memory-backed when the system has it: a disk file system flushes a file
// that was cut short and rewritten each time it is closed, which would
// slow every input down to the disk's pace.
std::filesystem::path scratch_folder() {
    std::error_code ignored;
    const std::filesystem::path shared_memory = "/dev/shm";
    return std::filesystem::is_directory(shared_memory, ignored)
               ? shared_memory
               : std::filesystem::temp_directory_path();
}

}  // namespace

scratch_file::scratch_file() {
    std::string pattern = (scratch_folder() / "tallywire-fuzz-XXXXXX").string();
    fd_ = mkstemp(pattern.data());
    if (fd_ < 0) {
        fail("mkstemp");
    }
    path_ = pattern;
}

scratch_file::~scratch_file() {
    close(fd_);
    unlink(path_.c_str());
}

void scratch_file::replace(std::span<const std::uint8_t> bytes) {
    // Written over, then cut to its new size, never emptied first.
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = pwrite(fd_, bytes.data() + written, bytes.size() - written,
                                 static_cast<off_t>(written));
        if (n <= 0) {
            fail("pwrite");
        }
        written += static_cast<std::size_t>(n);
    }
    if (ftruncate(fd_, static_cast<off_t>(bytes.size())) != 0) {
        fail("ftruncate");
    }
}

void renew_tables(std::uint32_t kinds, const accounting_context& counting) {
    close_tables();
    if (create_tables(kinds, counting) != 0) {
        fail("create_tables");
    }
}

void discard_standard_output() {
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
        fail("/dev/null");
    }
    close(null_fd);
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz harness: %s\n", what);
    std::abort();
}

}  // namespace twfuzz
