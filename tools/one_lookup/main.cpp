// tallywire with the names of every report looked up one at a time, each
// by its own label, instead of all of a block's ahead and concurrently: the
// reference that the lookup tests and scripts/bench-lookups compare the
// shipped program with. Built from the same library; never installed.

#include "cli/run_sequence.h"

int main(int argc, char** argv) {
    return tallywire::tallywire_main(argc, argv, tallywire::name_lookups::one_at_a_time);
}
