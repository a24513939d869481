#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace tallywire {

// The allocator of a table's hash index. A large index is looked up at
// random all over, so it gets its own mapping with large pages advised,
// which spares most of the address translation misses; small ones come from
// the heap.
template <class T>
class index_allocator {
public:
    using value_type = T;

    index_allocator() = default;
    template <class U>
    index_allocator(const index_allocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        const std::size_t bytes = count * sizeof(T);
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_alloc();
        }
        if (bytes < mapped_from) {
            return static_cast<T*>(::operator new(bytes));
        }
        void* mapped =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        madvise(mapped, bytes, MADV_HUGEPAGE);
        return static_cast<T*>(mapped);
    }

    void deallocate(T* block, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < mapped_from) {
            ::operator delete(block);
        } else {
            munmap(block, bytes);
        }
    }

    template <class U>
    bool operator==(const index_allocator<U>&) const noexcept {
        return true;
    }

private:
    static constexpr std::size_t mapped_from = std::size_t{2} << 20;
};

}  // namespace tallywire
