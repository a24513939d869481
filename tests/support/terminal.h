#pragma once

// Running a shell command with a pseudo-terminal as its terminal, through
// script(1) of util-linux: what the command writes to the terminal comes
// back as standard output (a newline comes back as "\r\n").

#include <string>

#include "support/process.h"

namespace twtest {

// Empty when script(1) is there; otherwise why a test cannot run.
std::string terminal_unavailable();

// Runs command with sh -c under a fresh pseudo-terminal; out is what the
// terminal received, status the command's.
run_result run_under_terminal(const std::string& command, double timeout_seconds = 300);

// A word quoted for sh.
std::string shell_quoted(const std::string& word);

// Whether text, as a terminal received it, ends with a progress line's
// erasure: a carriage return, blanks, a carriage return.
bool ends_erased(const std::string& text);

}  // namespace twtest
