#pragma once

// RapidJSON's SAX reader, as the merge includes it. Its internal stack
// (internal/stack.h in the 1.1.0 that Debian ships) adds an offset to its
// null pointer before it first grows: harmless in practice, but undefined,
// and clang's -fsanitize=undefined stops on it. The exemption covers
// RapidJSON's own functions only; the rest of the program stays checked.

#include <cstring>
#include <string_view>

#include "merge/block_stream.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

// RapidJSON's generic parser takes a stream's bytes one call at a time; for
// its own in-memory streams it skips whitespace and copies the plain bytes
// of a string in runs instead, through the two hooks below. The merge's
// stream gets the same: most of a large merge is spent parsing, and most of
// what it parses is names and labels. They reach into RapidJSON's
// internals (1.1.0), and are kept only for speed: together with the
// per-block UTF-8 check of block_stream they took the bench's merge of
// 412 MB of JSON (wide in 8 parts) from 1.60-1.68 s to 1.12-1.19 s. The
// hooks alone, on 391 MB of -S a -d documents in six alternating pairs on
// a busy two-core machine: 0.91-1.21 s with them, 1.05-1.39 s without,
// each pair 0.08-0.30 s (median 0.14 s, some 13%) faster with them. Each
// counts its calls in the stream, so that a test fails if an upgrade of
// RapidJSON stops calling them.
namespace rapidjson {

template <>
inline void SkipWhitespace(tallywire::block_stream& is) {
    ++is.hook_calls.whitespace;
    is.skip_whitespace();
}

template <>
template <>
inline void GenericReader<UTF8<>, UTF8<>, CrtAllocator>::ScanCopyUnescapedString(
    tallywire::block_stream& is, StackStream<char>& os) {
    ++is.hook_calls.strings;
    for (std::string_view run = is.plain_run(); !run.empty(); run = is.plain_run()) {
        std::memcpy(os.Push(static_cast<SizeType>(run.size())), run.data(), run.size());
        is.skip(run.size());
    }
}

}  // namespace rapidjson
