#include "stats/page_region.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tallywire {

namespace {

constexpr std::size_t large_page = std::size_t{2} << 20;

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

page_region::~page_region() { release(); }

page_region::page_region(page_region&& other) noexcept
    : use_(other.use_), base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

page_region& page_region::operator=(page_region&& other) noexcept {
    if (this != &other) {
        release();
        use_ = other.use_;
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void page_region::release() noexcept {
    if (base_ != nullptr) {
        munmap(base_, size_);
        base_ = nullptr;
        size_ = 0;
    }
}

void page_region::discard_after(std::size_t bytes) noexcept {
    const std::size_t page = page_size();
    const std::size_t kept = bytes > size_ ? size_ : (bytes + page - 1) / page * page;
    if (kept < size_) {
        // Only advice: pages that stay resident cost memory, not correctness.
        madvise(base_ + kept, size_ - kept, MADV_DONTNEED);
    }
}

bool page_region::resize(std::size_t bytes) {
    const std::size_t page = page_size();
    if (bytes > static_cast<std::size_t>(-1) - page) {
        errno = ENOMEM;
        return false;
    }
    const std::size_t rounded = (bytes + page - 1) / page * page;
    if (rounded == size_) {
        return true;
    }
    if (rounded == 0) {
        release();
        return true;
    }
    void* mapped = base_ == nullptr
                       ? mmap(nullptr, rounded, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                       : mremap(base_, size_, rounded, MREMAP_MAYMOVE);
    if (mapped == MAP_FAILED) {
        return false;
    }
    base_ = static_cast<std::byte*>(mapped);
    size_ = rounded;
    if (use_ == page_use::front_to_back && size_ >= large_page) {
        // Only advice: where large pages are not to be had, small ones serve.
        madvise(base_, size_, MADV_HUGEPAGE);
    }
    return true;
}

}  // namespace tallywire
