#pragma once

// Reading a member out of one line of a JSON Lines report without a parser:
// enough for the numbers, texts and booleans the tests look at.

#include <string>

namespace twtest {

// The value of the first member of that name in a one-line JSON document,
// as its text (a text keeps its quotes); empty when there is none.
inline std::string member_text(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t at = line.find(key);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t from = at + key.size();
    return line.substr(from, line.find_first_of(",}", from) - from);
}

}  // namespace twtest
