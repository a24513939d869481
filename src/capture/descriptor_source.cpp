#include <sys/stat.h>

#include "capture/byte_source.h"

namespace tallywire {

descriptor_source::descriptor_source(int fd) : fd_(fd) {
    struct stat status {};
    regular_file_ = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

read_outcome descriptor_source::read_some(std::span<std::uint8_t> buffer) {
    const read_outcome outcome = read_at_least(fd_, buffer, 1);
    bytes_read_ += outcome.count;
    return outcome;
}

std::optional<std::uint64_t> descriptor_source::bytes_beyond() const {
    if (!regular_file_) {
        return std::nullopt;
    }
    struct stat status {};
    if (fstat(fd_, &status) != 0 || status.st_size < 0) {
        return 0;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    return size > bytes_read_ ? size - bytes_read_ : 0;
}

}  // namespace tallywire
