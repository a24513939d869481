#include "stats/table_counting.h"

#include <cerrno>
#include <cstdio>

#include "stats/stat_tables.h"
#include "stats/stats_state.h"

namespace tallywire {

int open_counting_sets(std::uint32_t kinds, const accounting_context& context, unsigned count,
                       std::vector<table_counting>& sets) {
    sets.clear();
    sets.resize(count);
    for (table_counting& set : sets) {
        set.context = context;
        if (open_tables(kinds, context, set.tables) != 0) {
            std::perror("dbopen");
            sets.clear();
            return -1;
        }
    }
    return 0;
}

int add_counting_sets(std::vector<table_counting>& sets) {
    for (table_counting& set : sets) {
        for (std::size_t i = 0; i < set.tables.size() && i < stat_tables.size(); ++i) {
            const auto result = stat_tables[i].db->add_table(*set.tables[i].db);
            if (result.outcome != counting_table::add_outcome::added) {
                // Tables of one run hold neither a key twice nor sums past
                // 2^64 - 1 across threads that a single thread could not;
                // memory is what can run out.
                errno = ENOMEM;
                std::perror("Fatal! add_entry()");
                return -1;
            }
        }
        set.tables.clear();
    }
    return 0;
}

}  // namespace tallywire
