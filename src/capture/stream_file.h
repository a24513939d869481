#pragma once

#include <cstdio>

#include "capture/byte_source.h"

namespace tallywire {

// A read-only stdio stream over the source, for libraries that read
// through a FILE (libpcap's pcap_fopen_offline). A failed read of the
// source is a read error of the stream (errno EIO). Closing the stream
// leaves the source to its owner, which must keep it until then. Null when
// the stream cannot be made.
std::FILE* open_stream_file(byte_source& source);

}  // namespace tallywire
