#pragma once

// What the fuzz targets share: a scratch file that the readers open by name,
// and table sets that are renewed before they grow without bound.

#include <cstdint>
#include <span>
#include <string>

#include "stats/stat_tables.h"

using namespace tallywire;

namespace twfuzz {

inline constexpr std::uint32_t all_kinds =
    stat_total | stat_link | stat_ip | stat_port | stat_host | stat_network;

// A scratch file that exists while the object lives. Readers open it by
// name, so every input is written to it whole before a reader runs.
class scratch_file {
public:
    scratch_file();
    ~scratch_file();
    scratch_file(const scratch_file&) = delete;
    scratch_file& operator=(const scratch_file&) = delete;

    // Replaces the file's contents with bytes; aborts if it cannot.
    void replace(std::span<const std::uint8_t> bytes);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Closes the current tables, if any, and opens an empty set of the kinds
// under the counting's direction split and ipv6; the sink must be handed
// the same counting.
void renew_tables(std::uint32_t kinds, const accounting_context& counting = {});

// Sends standard output to /dev/null: reports of fuzzed runs are noise.
void discard_standard_output();

// Stops the fuzzer with a crash that it records as a finding.
[[noreturn]] void fail(const char* what);

}  // namespace twfuzz
