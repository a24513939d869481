#include "capture/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace tallywire {

file_descriptor::~file_descriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

file_descriptor::file_descriptor(file_descriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

file_descriptor& file_descriptor::operator=(file_descriptor&& other) noexcept {
    if (this != &other) {
        file_descriptor doomed(std::exchange(fd_, std::exchange(other.fd_, -1)));
    }
    return *this;
}

file_descriptor open_for_reading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open()");
    }
    return file_descriptor(fd);
}

read_outcome read_at_least(int fd, std::span<std::uint8_t> buffer, std::size_t wanted) {
    read_outcome outcome;
    while (outcome.count < wanted && outcome.count < buffer.size()) {
        const ssize_t n = read(fd, buffer.data() + outcome.count, buffer.size() - outcome.count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            outcome.failed = true;
            break;
        }
        if (n == 0) {
            break;
        }
        outcome.count += static_cast<std::size_t>(n);
    }
    return outcome;
}

}  // namespace tallywire
