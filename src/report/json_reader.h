#pragma once

// RapidJSON's SAX reader, as the merge includes it. Its internal stack
// (internal/stack.h in the 1.1.0 that Debian ships) adds an offset to its
// null pointer before it first grows: harmless in practice, but undefined,
// and clang's -fsanitize=undefined stops on it. The exemption covers
// RapidJSON's own functions only; the rest of the program stays checked.

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif
