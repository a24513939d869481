#pragma once

// The statistics layer's program-wide state: the tables of the run.

#include <vector>

#include "stats/table_records.h"

namespace tallywire {

// One table per selected kind, in ascending order of the kind bit (Total
// first); stat_table_count is the number of kinds selected.
extern std::vector<stat_table> stat_tables;
extern int stat_table_count;
// The direction split the tables were created with: compare_keys keeps the
// two-argument shape of a comparison, and must order keys as the stores do.
extern bool stat_tables_direction_split;

// Drops every table.
void reset_stats_state();

}  // namespace tallywire
