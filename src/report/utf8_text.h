#pragma once

// Well-formed UTF-8 (the byte ranges of Unicode's table 3-7: no overlong
// forms, no surrogates, nothing past U+10FFFF), for what reports write and
// what a merge reads.

#include <cstddef>
#include <string_view>

namespace tallywire {

// The length of the well-formed sequence at the start of text, or 0 when
// none starts there (also when text ends inside one).
std::size_t utf8_sequence_length(std::string_view text);

// The length of the longest start of text made of whole well-formed
// sequences: text.size() when all of it is.
std::size_t well_formed_utf8_prefix(std::string_view text);

}  // namespace tallywire
