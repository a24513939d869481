#include <zstd.h>

#include <memory>
#include <new>

#include "capture/stream_decoder.h"

namespace tallywire {

namespace {

// The largest window a frame may ask for, as a power of two: 128 MiB, the
// zstd command's own default limit. A frame that asks for more is refused
// by the library, so a hostile file cannot make the process take more.
constexpr int window_log_limit = 27;

struct context_freer {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

class zstd_decoder final : public stream_decoder {
public:
    bool start() {
        context_.reset(ZSTD_createDCtx());
        return context_ &&
               !ZSTD_isError(ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax,
                                                    window_log_limit));
    }

    std::string_view name() const override { return "zstd"; }

    decode_step step(std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output) override {
        ZSTD_inBuffer in{input.data(), input.size(), 0};
        ZSTD_outBuffer out{output.data(), output.size(), 0};
        const std::size_t result = ZSTD_decompressStream(context_.get(), &out, &in);
        decode_step done;
        done.consumed = in.pos;
        done.produced = out.pos;
        if (ZSTD_isError(result)) {
            done.error = ZSTD_getErrorName(result);
        } else if (result == 0) {
            between_ = true;  // a frame ended and all of it was handed out
        } else if (done.consumed != 0 || done.produced != 0) {
            between_ = false;
        }
        return done;
    }

    bool between_streams() const override { return between_; }

private:
    std::unique_ptr<ZSTD_DCtx, context_freer> context_;
    bool between_ = true;
};

}  // namespace

std::unique_ptr<stream_decoder> make_zstd_decoder() {
    std::unique_ptr<zstd_decoder> decoder(new (std::nothrow) zstd_decoder);
    if (!decoder || !decoder->start()) {
        return nullptr;
    }
    return decoder;
}

}  // namespace tallywire
