#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "capture/file_descriptor.h"

namespace tallywire {

// Where a reader's bytes come from: an open file, or what a decompressor
// makes of one.
class byte_source {
public:
    virtual ~byte_source() = default;

    // Places at least one byte at the start of buffer, unless the input
    // has ended or failed.
    virtual read_outcome read_some(std::span<std::uint8_t> buffer) = 0;

    // For a regular file, the bytes it holds beyond those read so far (0
    // when its size shows none: a file being written, a file system that
    // reports no size); nothing for any other input, whose size cannot be
    // known in advance.
    virtual std::optional<std::uint64_t> bytes_beyond() const = 0;
};

// An open file descriptor, not owned, read from where it stands.
class descriptor_source final : public byte_source {
public:
    explicit descriptor_source(int fd);

    read_outcome read_some(std::span<std::uint8_t> buffer) override;
    std::optional<std::uint64_t> bytes_beyond() const override;

private:
    int fd_;
    bool regular_file_ = false;
    std::uint64_t bytes_read_ = 0;
};

}  // namespace tallywire
