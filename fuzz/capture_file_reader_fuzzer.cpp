// Arbitrary bytes through the capture file reader, pcap and pcapng alike:
// once over a heap block of exactly the input's size (as a mapping hands it
// over, so that any read past the file is the sanitizers' to see) and once
// through a small buffer (as a pipe or a decompressed stream hands it
// over). Both must see the same frames and end the same way, and every
// frame's view must lie inside its input; the frames are decoded and
// counted as a run would.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "capture/buffered_input.h"
#include "capture/byte_source.h"
#include "capture/capture_file_reader.h"
#include "capture/frame_view.h"
#include "capture/record_input.h"
#include "fuzz_support.h"
#include "stats/accounting.h"

using namespace tallywire;

namespace {

constexpr int inputs_per_table_set = 256;

// The input handed out a few bytes at a time, as a slow pipe would.
class trickle_source final : public byte_source {
public:
    explicit trickle_source(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    read_outcome read_some(std::span<std::uint8_t> buffer) override {
        const std::size_t count = std::min({buffer.size(), bytes_.size() - at_, std::size_t{7}});
        std::memcpy(buffer.data(), bytes_.data() + at_, count);
        at_ += count;
        return {count, false};
    }
    std::optional<std::uint64_t> bytes_beyond() const override { return std::nullopt; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

struct seen {
    int datalink;
    std::vector<std::uint8_t> bytes;
    std::uint32_t wire_length;
    std::int64_t seconds, microseconds;
    bool operator==(const seen&) const = default;
};

struct reading {
    bool opened = false;
    file_read last = file_read::end;
    std::vector<seen> frames;
    bool operator==(const reading&) const = default;
};

reading read_all(record_input& input, std::span<const std::uint8_t> whole, bool count,
                 accounting_context& counting) {
    capture_file_reader reader(input);
    reading result;
    result.opened = reader.open();
    if (!result.opened) {
        return result;
    }
    capture_context context;
    context.sink = accounting_sink;
    context.sink_arg = &counting;
    context.look_through = whole.size() % 2 == 0;
    file_frame frame;
    while ((result.last = reader.next(frame)) == file_read::frame) {
        if (!whole.empty() && (frame.bytes.data() < whole.data() ||
                               frame.bytes.data() + frame.bytes.size() > whole.data() + whole.size())) {
            twfuzz::fail("a frame's view lies outside its file");
        }
        result.frames.push_back({frame.datalink,
                                 std::vector<std::uint8_t>(frame.bytes.begin(), frame.bytes.end()),
                                 frame.wire_length, frame.timestamp.seconds,
                                 frame.timestamp.microseconds});
        if (count) {
            decode_frame_of_link(context, frame.datalink, frame.bytes, frame.wire_length,
                                 frame.timestamp);
        }
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int inputs_since_renewal = inputs_per_table_set;
    if (inputs_since_renewal == inputs_per_table_set) {
        twfuzz::renew_tables(twfuzz::all_kinds);
        inputs_since_renewal = 0;
    }
    ++inputs_since_renewal;
    accounting_context counting;

    // A block of exactly the input's size: libFuzzer's own copy may have
    // room after it.
    const auto block = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) {
        std::memcpy(block.get(), data, size);
    }
    const std::span<const std::uint8_t> whole(block.get(), size);
    record_input mapped(whole);
    const reading from_mapping = read_all(mapped, whole, true, counting);

    trickle_source source(whole);
    buffered_input buffer(source, 16);
    record_input buffered(buffer);
    const reading from_buffer = read_all(buffered, {}, false, counting);
    if (!(from_mapping == from_buffer)) {
        twfuzz::fail("the mapped and the buffered reading differ");
    }
    return 0;
}
