#pragma once

#include <cerrno>
#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>

namespace tallywire {

// How a region's pages are written: scattered (a slot here and there, so
// that most pages stay untouched and cost nothing) or front to back (so that
// large pages cut the address translation misses of random lookups without
// leaving much unused).
enum class page_use { scattered, front_to_back };

// A private anonymous mapping: zero-filled, resident only where written, and
// grown with mremap so that doubling a large array neither copies it nor
// holds the old and the new copy at once.
class page_region {
public:
    explicit page_region(page_use use = page_use::scattered) : use_(use) {}
    ~page_region();
    page_region(const page_region&) = delete;
    page_region& operator=(const page_region&) = delete;
    // Moving hands the mapping over; the source is left empty.
    page_region(page_region&& other) noexcept;
    page_region& operator=(page_region&& other) noexcept;

    // Maps (or remaps) to hold at least bytes, keeping what was written; the
    // bytes added read as zero. False with errno set when the system refuses,
    // and the region is then left as it was.
    bool resize(std::size_t bytes);

    std::span<std::byte> bytes() const { return {base_, size_}; }

    // Gives the whole pages past the first bytes back to the system; they
    // read as zero again when next touched.
    void discard_after(std::size_t bytes) noexcept;

private:
    void release() noexcept;

    page_use use_;
    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
};

// Elements of a trivially copyable type over a page_region; every element
// past those written reads as all-zero bytes.
template <class T>
class page_array {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "elements live in raw pages and are never constructed or destroyed");

public:
    explicit page_array(page_use use = page_use::scattered) : region_(use) {}
    // Takes over pages that held elements of another type; what they hold
    // is read as elements of this one.
    explicit page_array(page_region&& region) : region_(std::move(region)) { adopt_region(); }

    page_array(page_array&& other) noexcept : region_(other.release_pages()) { adopt_region(); }
    page_array& operator=(page_array&& other) noexcept {
        region_ = other.release_pages();
        adopt_region();
        return *this;
    }

    // Hands the pages over whole, for another array to take; this one is
    // left empty.
    page_region release_pages() noexcept {
        data_ = nullptr;
        capacity_ = 0;
        return std::move(region_);
    }

    // At least count elements; false with errno set when they cannot be had.
    bool resize(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            errno = ENOMEM;
            return false;
        }
        if (!region_.resize(count * sizeof(T))) {
            return false;
        }
        adopt_region();
        return true;
    }

    std::size_t capacity() const { return capacity_; }
    // Gives back the pages wholly past the first count elements.
    void discard_after(std::size_t count) noexcept { region_.discard_after(count * sizeof(T)); }
    T& operator[](std::size_t index) const { return data_[index]; }
    std::span<T> first(std::size_t count) const { return {data_, count}; }

private:
    void adopt_region() {
        const std::span<std::byte> bytes = region_.bytes();
        data_ = reinterpret_cast<T*>(bytes.data());
        capacity_ = bytes.size() / sizeof(T);
    }

    page_region region_;
    T* data_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace tallywire
