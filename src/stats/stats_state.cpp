#include "stats/stats_state.h"

namespace tallywire {

std::vector<stat_table> stat_tables;
int stat_table_count = 0;
bool stat_tables_direction_split = false;

void reset_stats_state() {
    stat_tables.clear();
    stat_table_count = 0;
    stat_tables_direction_split = false;
}

}  // namespace tallywire
