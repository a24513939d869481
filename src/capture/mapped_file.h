#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/bounded_read.h"

namespace tallywire {

// A regular file mapped into memory read-only, unmapped when it goes.
// Pages already read can be given back (release_before), so that reading
// a large file does not leave it all resident in the process.
class mapped_file {
public:
    // Maps the whole of the open descriptor's file; empty() when it cannot
    // be mapped (not a regular file, no size, no address space), which is
    // no error: the caller reads it instead.
    explicit mapped_file(int fd);
    ~mapped_file();
    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;

    bool empty() const { return base_ == nullptr; }
    byte_span bytes() const;

    // Gives back the pages wholly before offset; nothing before it may be
    // read again.
    void release_before(std::uint64_t offset);

private:
    void* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t released_ = 0;
};

}  // namespace tallywire
