#include "support/terminal.h"

#include <unistd.h>

namespace twtest {
namespace {

constexpr const char* script_path = "/usr/bin/script";

}  // namespace

std::string terminal_unavailable() {
    return access(script_path, X_OK) == 0 ? "" : "script(1) of util-linux is not installed";
}

run_result run_under_terminal(const std::string& command, double timeout_seconds) {
    run_options options;
    options.timeout_seconds = timeout_seconds;
    // -q: no start and end notes; -e: the command's status; -c: the command.
    return run_program(script_path, {"-qec", command, "/dev/null"}, options);
}

std::string shell_quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool ends_erased(const std::string& text) {
    if (text.size() < 3 || text.back() != '\r') {
        return false;
    }
    const std::size_t before_blanks = text.find_last_not_of(' ', text.size() - 2);
    return before_blanks != std::string::npos && before_blanks < text.size() - 2 &&
           text[before_blanks] == '\r';
}

}  // namespace twtest
