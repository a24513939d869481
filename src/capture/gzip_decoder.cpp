#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

#include "capture/stream_decoder.h"

namespace tallywire {

namespace {

// Accepts only the gzip wrapper: zlib's own and raw deflate data are not
// capture files anyone keeps.
constexpr int gzip_window_bits = 16 + MAX_WBITS;

// zlib counts in unsigned int; larger spans are handed over in pieces.
constexpr std::size_t largest_piece = std::numeric_limits<uInt>::max();

class gzip_decoder final : public stream_decoder {
public:
    bool start() {
        started_ = inflateInit2(&z_, gzip_window_bits) == Z_OK;
        return started_;
    }
    ~gzip_decoder() override {
        if (started_) {
            inflateEnd(&z_);
        }
    }

    std::string_view name() const override { return "gzip"; }

    decode_step step(std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output) override {
        z_.next_in = const_cast<Bytef*>(input.data());
        z_.avail_in = static_cast<uInt>(std::min(input.size(), largest_piece));
        z_.next_out = output.data();
        z_.avail_out = static_cast<uInt>(std::min(output.size(), largest_piece));
        const uInt in_before = z_.avail_in;
        const uInt out_before = z_.avail_out;
        const int result = inflate(&z_, Z_NO_FLUSH);
        decode_step done;
        done.consumed = in_before - z_.avail_in;
        done.produced = out_before - z_.avail_out;
        switch (result) {
        case Z_OK:
            between_ = false;
            break;
        case Z_STREAM_END:
            // A member ends; the next bytes, if any, begin another one.
            between_ = true;
            inflateReset(&z_);
            break;
        case Z_BUF_ERROR:
            break;  // no progress possible without more input or room
        default:
            done.error = z_.msg != nullptr ? z_.msg : zError(result);
            break;
        }
        return done;
    }

    bool between_streams() const override { return between_; }

private:
    z_stream z_{};
    bool started_ = false;
    bool between_ = true;
};

}  // namespace

std::unique_ptr<stream_decoder> make_gzip_decoder() {
    std::unique_ptr<gzip_decoder> decoder(new (std::nothrow) gzip_decoder);
    if (!decoder || !decoder->start()) {
        return nullptr;
    }
    return decoder;
}

}  // namespace tallywire
