#pragma once

// The statistics layer's program-wide state: the tables of the run.

#include <vector>

#include "stats/table_records.h"

namespace tallywire {

// One table per selected kind, in ascending order of the kind bit (Total
// first); stat_table_count is the number of kinds selected.
extern std::vector<stat_table> stat_tables;
extern int stat_table_count;

// Drops every table.
void reset_stats_state();

}  // namespace tallywire
