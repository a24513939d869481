#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tallywire {

// Owns one open file descriptor and closes it when it goes.
class file_descriptor {
public:
    explicit file_descriptor(int fd = -1) noexcept : fd_(fd) {}
    ~file_descriptor();
    file_descriptor(file_descriptor&& other) noexcept;
    file_descriptor& operator=(file_descriptor&& other) noexcept;
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

private:
    int fd_;
};

// Opens path read-only. A failure is reported through perror as "open()"
// and yields an empty descriptor.
file_descriptor open_for_reading(const std::string& path);

struct read_outcome {
    std::size_t count = 0;  // bytes placed at the start of the buffer
    bool failed = false;    // a read error ended the reading
};

// Reads into buffer until at least `wanted` bytes have arrived, the input
// ends, or a read fails. Pipes, terminals and other devices may hand over
// less than asked for in one read, so a short read is not taken as the end.
read_outcome read_at_least(int fd, std::span<std::uint8_t> buffer, std::size_t wanted);

}  // namespace tallywire
