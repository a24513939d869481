#include "capture/stream_file.h"

#include <cerrno>
#include <span>

namespace tallywire {

namespace {

ssize_t read_source(void* cookie, char* buffer, std::size_t size) {
    auto& source = *static_cast<byte_source*>(cookie);
    const read_outcome outcome =
        source.read_some(std::span(reinterpret_cast<std::uint8_t*>(buffer), size));
    if (outcome.failed) {
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(outcome.count);
}

int leave_source(void*) { return 0; }

}  // namespace

std::FILE* open_stream_file(byte_source& source) {
    cookie_io_functions_t functions{};
    functions.read = read_source;
    functions.close = leave_source;
    return fopencookie(&source, "rb", functions);
}

}  // namespace tallywire
