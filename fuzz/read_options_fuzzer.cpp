// Arbitrary argument vectors through the option reader. The input is split
// on NUL bytes into the words after argv[0]; each word gets a buffer of its
// own exact size, so that reading past its terminating zero is caught.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "settings.h"

using namespace tallywire;

namespace {

// Longer vectors add nothing that eight words cannot reach.
constexpr std::size_t max_words = 64;

std::unique_ptr<char[]> word_buffer(std::string_view text) {
    auto buffer = std::make_unique<char[]>(text.size() + 1);
    text.copy(buffer.get(), text.size());
    buffer[text.size()] = '\0';
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::unique_ptr<char[]>> words;
    words.push_back(word_buffer("tallywire"));
    std::size_t start = 0;
    while (start <= input.size() && words.size() <= max_words) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        words.push_back(word_buffer(input.substr(start, end - start)));
        start = end + 1;
    }

    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.get());
    }
    argv.push_back(nullptr);

    run_config fresh;
    read_options(static_cast<int>(words.size()), argv.data(), fresh);
    return 0;
}
