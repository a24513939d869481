#pragma once

#include <cstdint>
#include <string>

#include "report/labelled_rows.h"
#include "settings.h"

namespace tallywire {

// One run of config: create the tables, read the source, print the report
// when the source ran, close the tables. Returns the exit status: 0 for a
// completed run, 1 when the tables, the source or the writing of the report
// failed, 2 when the report was printed but covers only the frames before a
// read error. lookups is how the report looks names up (see name_lookups).
int run_statistics(const run_config& config, name_lookups lookups = name_lookups::ahead);

// --merge: adds up the JSON reports in the config's merge source ("-" for
// standard input) and prints the report of the sum. 0, or 1 when a part
// was refused or the report could not be written, or 2 when a part covered
// only the frames before a read error.
int run_merge(const run_config& command_line, name_lookups lookups = name_lookups::ahead);

// The whole program: options, then the run. Returns the exit status. The
// shipped program looks names up ahead; lookups is there for the build
// that compares that with one lookup at a time (tools/one_lookup/main.cpp).
int tallywire_main(int argc, char** argv, name_lookups lookups = name_lookups::ahead);

}  // namespace tallywire
