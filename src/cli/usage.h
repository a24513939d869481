#pragma once

#include <string_view>

namespace tallywire {

// The last component of path: the text after its last "/". Paths shorter
// than two characters are their own base name.
std::string_view base_name(std::string_view path);

// Writes the usage text for program_path to standard error; returns status.
int print_usage(int status, const char* program_path);

// --help: the usage text, then the long options, on standard output.
void print_help(const char* program_path);

// --version: "tallywire " and the version, on standard output.
void print_version();

// One line on standard error naming the first word that option reading left
// unread: it and the words after it are ignored. When it names a file, the
// line says that -r reads a file, since that is what was most likely meant.
void warn_ignored_words(const char* program_path, std::string_view first_ignored);

}  // namespace tallywire
