#include "stats/stats_state.h"

namespace tallywire {

std::vector<stat_table> stat_tables;
int stat_table_count = 0;

void reset_stats_state() {
    stat_tables.clear();
    stat_table_count = 0;
}

}  // namespace tallywire
