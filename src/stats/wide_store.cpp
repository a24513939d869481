#include "stats/wide_store.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace tallywire {

int wide_store::count(const wide_key& key, std::uint32_t length) noexcept {
    try {
        table_counters& counters = entries_[key];
        counters.bytes += length;
        ++counters.packets;
        return 0;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }
}

std::vector<wide_row> wide_store::take_rows() {
    std::vector<wide_row> rows;
    rows.reserve(entries_.size());
    for (const auto& [key, counters] : entries_) {
        rows.push_back(wide_row{key, counters.bytes, counters.packets});
    }
    entries_ = {};
    std::sort(rows.begin(), rows.end(),
              [](const wide_row& a, const wide_row& b) { return a.key < b.key; });
    return rows;
}

}  // namespace tallywire
