#pragma once

#include <string_view>

namespace tallywire {

// The last component of path: the text after its last "/". Paths shorter
// than two characters are their own base name.
std::string_view base_name(std::string_view path);

// Writes the usage text for program_path to standard error; returns status.
int print_usage(int status, const char* program_path);

}  // namespace tallywire
