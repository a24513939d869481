// Arbitrary bytes as the input of --merge: every document in them is read
// and added up, and a sum that is accepted is printed (to /dev/null), so
// that the keys it took in are labelled too. The settings a merge adopts
// from its parts are put back before each input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "fuzz_support.h"
#include "merge/merge_reader.h"
#include "report/report.h"
#include "settings.h"

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (twfuzz::discard_standard_output(), true);
    static_cast<void>(quiet);
    run_config command_line;
    command_line.no_resolve = true;
    // fmemopen needs a buffer even for no bytes.
    static std::uint8_t nothing = 0;
    const std::unique_ptr<std::FILE, file_closer> input(
        fmemopen(size == 0 ? &nothing : const_cast<std::uint8_t*>(data), size, "rb"));
    if (!input) {
        twfuzz::fail("fmemopen");
    }
    std::optional<merged_reports> sums = merge_reports(input.get(), command_line);
    if (sums) {
        print_merged_report(sums->config, sums->tables, sums->outcome);
    }
    return 0;
}
