#pragma once

#include <cstdint>
#include <string>

#include "settings.h"

namespace tallywire {

// One run: create the tables, read the source, print the report when the
// source ran, close the tables. Returns the exit status: 0 for a completed
// run, 1 when the tables, the source or the writing of the report failed,
// 2 when the report was printed but covers only the frames before a read
// error.
int run_statistics(const std::string& source_name, std::uint32_t stat_kinds, capture_mode mode,
                   double capture_seconds);

// --merge: adds up the JSON reports in source ("-" for standard input) and
// prints the report of the sum. 0, or 1 when a part was refused or the
// report could not be written, or 2 when a part covered only the frames
// before a read error.
int run_merge(const std::string& source);

// The whole program: options, then the run. Returns the exit status.
int tallywire_main(int argc, char** argv);

}  // namespace tallywire
