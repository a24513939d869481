#pragma once

// One decompressor behind one interface, so that the stream that feeds the
// readers does not care which of them made its bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace tallywire {

enum class compression { gzip, zstd };

// What one step of decoding did.
struct decode_step {
    std::size_t consumed = 0;  // input bytes used
    std::size_t produced = 0;  // output bytes written
    // The decompressor's own text when the data is damaged, else empty.
    std::string_view error;
};

class stream_decoder {
public:
    virtual ~stream_decoder() = default;

    // The name messages give it: "gzip", "zstd".
    virtual std::string_view name() const = 0;

    // Decodes from input into output. Neither may be empty for progress,
    // but both may be: data held back by an earlier step is then handed
    // out. A step that neither consumes nor produces has nothing more to do
    // until more input comes.
    virtual decode_step step(std::span<const std::uint8_t> input,
                             std::span<std::uint8_t> output) = 0;

    // True where the data may end: before the first byte and right after a
    // whole stream (a gzip member, a zstd frame); another may follow.
    virtual bool between_streams() const = 0;
};

// Null when the decompressor cannot get the memory it starts with.
std::unique_ptr<stream_decoder> make_gzip_decoder();
std::unique_ptr<stream_decoder> make_zstd_decoder();

}  // namespace tallywire
