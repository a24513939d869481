#include "capture/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tallywire {

mapped_file::mapped_file(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* const base = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (base == MAP_FAILED) {
        return;
    }
    // The file is read once, front to back: read well ahead, drop behind.
    madvise(base, size, MADV_SEQUENTIAL);
    base_ = base;
    size_ = size;
}

mapped_file::~mapped_file() {
    if (base_ != nullptr) {
        munmap(base_, size_);
    }
}

byte_span mapped_file::bytes() const {
    return byte_span(static_cast<const std::uint8_t*>(base_), size_);
}

void mapped_file::release_before(std::uint64_t offset) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(offset, size_)) /
                            page * page;
    if (base_ == nullptr || end <= released_) {
        return;
    }
    madvise(static_cast<std::uint8_t*>(base_) + released_, end - released_, MADV_DONTNEED);
    released_ = end;
}

}  // namespace tallywire
