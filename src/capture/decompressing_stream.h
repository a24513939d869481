#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "capture/byte_source.h"
#include "capture/file_descriptor.h"
#include "capture/stream_decoder.h"

namespace tallywire {

// A compressed capture file, read as the bytes it holds: decompressed a
// buffer at a time as they are asked for, so that memory stays the same
// whatever the file expands to. The data may hold several gzip members or
// zstd frames one after another.
//
// Damage (a bad header, corrupt data, data that ends inside a member or
// frame, a failing read) ends the stream: the bytes decoded before it are
// still handed out, then a read fails and failed() tells why.
class decompressing_stream final : public byte_source {
public:
    static constexpr std::size_t lookahead_capacity = 16;

    // name is what messages call the file. Check ready() before use.
    decompressing_stream(file_descriptor file, compression kind, std::string name);

    // False when the decompressor could not start (no memory); the stream
    // has then failed.
    bool ready() const noexcept { return decoder_ != nullptr; }

    // The first count decompressed bytes (at most lookahead_capacity),
    // which later reads still return; shorter when the data ends or fails
    // first.
    std::span<const std::uint8_t> peek(std::size_t count);

    read_outcome read_some(std::span<std::uint8_t> buffer) override;
    std::optional<std::uint64_t> bytes_beyond() const override { return std::nullopt; }

    bool failed() const noexcept { return !failure_.empty(); }

    // "NAME: gzip: TEXT" on standard error, for a stream that failed.
    void report_failure() const;

private:
    read_outcome decode_into(std::span<std::uint8_t> buffer);
    void refill();
    void fail(std::string text);

    file_descriptor file_;
    std::string name_;
    std::unique_ptr<stream_decoder> decoder_;
    std::unique_ptr<std::uint8_t[]> input_;
    std::size_t input_begin_ = 0;
    std::size_t input_end_ = 0;
    bool input_ended_ = false;
    bool ended_ = false;
    std::string failure_;
    std::array<std::uint8_t, lookahead_capacity> lookahead_{};
    std::size_t lookahead_begin_ = 0;
    std::size_t lookahead_end_ = 0;
};

}  // namespace tallywire
