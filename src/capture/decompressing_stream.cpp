#include "capture/decompressing_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace tallywire {

namespace {

// Compressed bytes read from the file at a time.
constexpr std::size_t input_capacity = std::size_t{128} << 10;

std::unique_ptr<stream_decoder> make_decoder(compression kind) {
    switch (kind) {
    case compression::gzip: return make_gzip_decoder();
    case compression::zstd: return make_zstd_decoder();
    }
    return nullptr;
}

}  // namespace

decompressing_stream::decompressing_stream(file_descriptor file, compression kind,
                                           std::string name)
    : file_(std::move(file)),
      name_(std::move(name)),
      decoder_(make_decoder(kind)),
      input_(new (std::nothrow) std::uint8_t[input_capacity]) {
    if (!input_) {
        decoder_.reset();
    }
    if (!decoder_) {
        fail(std::strerror(ENOMEM));
    }
}

std::span<const std::uint8_t> decompressing_stream::peek(std::size_t count) {
    count = std::min(count, lookahead_capacity);
    while (lookahead_end_ < count) {
        const read_outcome more =
            decode_into(std::span(lookahead_).subspan(lookahead_end_, count - lookahead_end_));
        if (more.count == 0) {
            break;
        }
        lookahead_end_ += more.count;
    }
    return std::span(lookahead_).subspan(lookahead_begin_, lookahead_end_ - lookahead_begin_);
}

read_outcome decompressing_stream::read_some(std::span<std::uint8_t> buffer) {
    if (lookahead_begin_ < lookahead_end_ && !buffer.empty()) {
        const std::size_t count = std::min(buffer.size(), lookahead_end_ - lookahead_begin_);
        std::memcpy(buffer.data(), lookahead_.data() + lookahead_begin_, count);
        lookahead_begin_ += count;
        return {count, false};
    }
    return decode_into(buffer);
}

// Fills as much of buffer as the data allows. Bytes decoded before damage
// are handed out first; the failure shows on the next call.
read_outcome decompressing_stream::decode_into(std::span<std::uint8_t> buffer) {
    std::size_t produced = 0;
    while (produced < buffer.size() && !failed() && !ended_) {
        if (input_begin_ == input_end_ && !input_ended_) {
            refill();
            if (failed()) {
                break;
            }
        }
        const std::span<const std::uint8_t> input(input_.get() + input_begin_,
                                                  input_end_ - input_begin_);
        const decode_step step = decoder_->step(input, buffer.subspan(produced));
        input_begin_ += step.consumed;
        produced += step.produced;
        if (!step.error.empty()) {
            fail(std::string(decoder_->name()) + ": " + std::string(step.error));
        } else if (step.consumed == 0 && step.produced == 0 && input_begin_ == input_end_ &&
                   input_ended_) {
            if (decoder_->between_streams()) {
                ended_ = true;
            } else {
                fail(std::string(decoder_->name()) + ": unexpected end of file");
            }
        } else if (step.consumed == 0 && step.produced == 0 && input_begin_ != input_end_) {
            // Input and room, yet no progress: no decompressor does this,
            // and looping on it would never end.
            fail(std::string(decoder_->name()) + ": no progress in the data");
        }
    }
    return {produced, produced == 0 && failed()};
}

void decompressing_stream::refill() {
    const read_outcome outcome =
        read_at_least(file_.get(), std::span(input_.get(), input_capacity), 1);
    input_begin_ = 0;
    input_end_ = outcome.count;
    if (outcome.failed) {
        fail(std::string("read(): ") + std::strerror(errno));
    } else if (outcome.count == 0) {
        input_ended_ = true;
    }
}

void decompressing_stream::fail(std::string text) {
    if (failure_.empty()) {
        failure_ = std::move(text);
    }
}

void decompressing_stream::report_failure() const {
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), failure_.c_str());
}

}  // namespace tallywire
