#pragma once

// Counting on several threads: each thread counts into tables of its own,
// and once the source has ended their counts are added whole into the
// run's tables (stats_state.h), which then hold what one thread counting
// every frame would hold, entry for entry.

#include <cstdint>
#include <vector>

#include "stats/accounting.h"
#include "stats/accounting_context.h"

namespace tallywire {

// count empty sets of the kinds' tables, one per counting thread, under
// the context. 0; or -1 after "dbopen" through perror, with none left open.
int open_counting_sets(std::uint32_t kinds, const accounting_context& context, unsigned count,
                       std::vector<table_counting>& sets);

// Adds every set into the run's tables and leaves the sets empty. 0; or -1
// after "Fatal! add_entry()" through perror when memory ran out.
int add_counting_sets(std::vector<table_counting>& sets);

}  // namespace tallywire
