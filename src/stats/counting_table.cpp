#include "stats/counting_table.h"

#include <algorithm>
#include <new>
#include <utility>

#include "stats/page_region.h"
#include "stats/row_sort.h"

namespace tallywire {


std::unique_ptr<counting_table> counting_table::open(std::uint32_t dense_values,
                                                      bool direction_split, bool deferred_slots,
                                                      bool wide_keys) {
    std::unique_ptr<counting_table> table(new (std::nothrow)
                                              counting_table(dense_values, direction_split));
    if (!table) {
        errno = ENOMEM;
        return nullptr;
    }
    const std::size_t slots = std::size_t{dense_values} * (direction_split ? 2 : 1);
    if (!table->dense_.open(slots, deferred_slots)) {
        return nullptr;
    }
    if (wide_keys) {
        table->wide_.reset(new (std::nothrow) wide_store);
        if (!table->wide_) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    return table;
}

int counting_table::find(const table_key& key, table_counters& counters) {
    std::size_t slot;
    if (dense_slot(key, slot)) {
        if (!dense_.holds(slot)) {
            return 1;
        }
        counters = dense_.at(slot);
        return 0;
    }
    const table_counters* stored = sparse_.broken() ? nullptr : sparse_.find(ordered_key(key));
    if (sparse_.broken()) {
        errno = ENOMEM;
        return -1;
    }
    if (stored == nullptr) {
        return 1;
    }
    counters = *stored;
    return 0;
}

int counting_table::store(const table_key& key, const table_counters& counters) {
    // Every entry has counted at least one packet; the slots rely on it.
    if (counters.packets == 0) {
        errno = EINVAL;
        return -1;
    }
    return route(
        key, [&](std::size_t slot) { dense_.store(slot, counters); },
        [&](std::uint64_t ordered) { return sparse_.store(ordered, counters); });
}

table_key counting_table::slot_key(std::size_t slot) const {
    if (!direction_split_) {
        return table_key{static_cast<std::uint32_t>(slot), 0};
    }
    return table_key{static_cast<std::uint32_t>(slot / 2), static_cast<std::int8_t>(slot % 2)};
}

std::size_t counting_table::first_slot_after(const table_key& key) const {
    if (key.value == 0) {
        return 0;
    }
    if (key.value >= dense_values_) {
        return dense_.slots();
    }
    if (!direction_split_) {
        return std::size_t{key.value} + 1;
    }
    // Slots 2v and 2v + 1 hold (v, 0) and (v, 1).
    const std::size_t first_of_value = std::size_t{key.value} * 2;
    if (key.direction < 0) {
        return first_of_value;
    }
    return key.direction == 0 ? first_of_value + 1 : first_of_value + 2;
}

int counting_table::next(table_key& key, table_counters& counters) {
    if (sparse_.broken()) {
        errno = ENOMEM;
        return -1;
    }
    const std::size_t slot = dense_.next_held(first_slot_after(key));
    const sparse_entry* entry = sparse_.next_after(key.value == 0 ? 0 : ordered_key(key));
    const bool slot_found = slot < dense_.slots();
    if (slot_found && (entry == nullptr || ordered_key(slot_key(slot)) < entry->key)) {
        key = slot_key(slot);
        counters = dense_.at(slot);
        return 0;
    }
    if (entry == nullptr) {
        return 1;
    }
    key = keys::unpack(entry->key);
    counters = entry->counters;
    return 0;
}

int counting_table::take_rows(table_rows& rows) {
    rows.clear();
    if (sparse_.broken()) {
        errno = ENOMEM;
        return -1;
    }
    if (dense_.held() == 0) {
        // Only sparse entries, already in key order or about to be merged
        // into it: they become the rows where they lie.
        if (!sparse_.take_rows(rows)) {
            errno = ENOMEM;
            return -1;
        }
        return 0;
    }
    // Slots and sparse entries interleave in key order: merged into an
    // array of their own. Short of memory for all of them, the rows keep as
    // many of the first as there is room for.
    const std::span<const sparse_entry> entries = sparse_.sorted_entries();
    if (sparse_.broken()) {
        errno = ENOMEM;
        return -1;
    }
    std::size_t total = dense_.held() + entries.size();
    page_array<report_row> pages;
    while (total != 0 && !pages.resize(total)) {
        total /= 2;
    }
    std::size_t count = 0;
    std::size_t slot = dense_.next_held(0);
    std::size_t entry = 0;
    while (count < total) {
        const bool slot_left = slot < dense_.slots();
        if (slot_left && (entry == entries.size() ||
                          ordered_key(slot_key(slot)) < entries[entry].key)) {
            const table_counters& counters = dense_.at(slot);
            pages[count++] = report_row{slot_key(slot), counters.bytes, counters.packets};
            slot = dense_.next_held(slot + 1);
        } else if (entry < entries.size()) {
            const sparse_entry& next = entries[entry++];
            pages[count++] = report_row{keys::unpack(next.key), next.counters.bytes,
                                        next.counters.packets};
        } else {
            break;
        }
    }
    // The entries are left empty, as when their rows are taken in place.
    dense_.clear();
    table_rows dropped;
    sparse_.take_rows(dropped);
    rows = table_rows(std::move(pages), count);
    return 0;
}

std::vector<wide_row> counting_table::take_wide_rows() {
    return wide_ ? wide_->take_rows() : std::vector<wide_row>{};
}

counting_table::add_result counting_table::add_rows(std::span<report_row> rows,
                                                    std::span<wide_row> wide_rows) {
    add_result added = add_narrow_rows(rows);
    return added.outcome == add_outcome::added ? add_wide_rows(wide_rows) : added;
}

// Sorted by key, the rows show a repeated key as two neighbours, and the
// keys past the dense slots form one sorted run that is merged into the
// sparse entries in a single pass over them (sparse_counters::add_run):
// adding a part's rows one lookup at a time would wait on memory for most
// of them.
counting_table::add_result counting_table::add_narrow_rows(std::span<report_row> rows) {
    sort_by_key(rows);
    // The sparse keys' run is written over the rows it is made from: an
    // entry has a row's size, and is made from a row read before it.
    static_assert(sizeof(sparse_entry) == sizeof(report_row));
    auto* const run = reinterpret_cast<sparse_entry*>(rows.data());
    std::size_t run_size = 0;
    std::uint64_t previous = 0;
    for (std::size_t at = 0; at < rows.size(); ++at) {
        const report_row row = rows[at];
        const std::uint64_t ordered = ordered_key(row.key);
        if (row.key.value == 0) {
            return {add_outcome::no_key, row.key};
        }
        if (at != 0 && ordered == previous) {
            return {add_outcome::repeated, row.key};
        }
        previous = ordered;
        const table_counters counters{row.bytes, row.packets};
        std::size_t slot;
        if (dense_slot(row.key, slot)) {
            table_counters sum = dense_.at(slot);
            if (!add_within_limit(sum, counters)) {
                return {add_outcome::past_limit, row.key};
            }
            dense_.store(slot, sum);
            continue;
        }
        new (&run[run_size++]) sparse_entry{ordered, counters};
    }
    std::uint64_t refused = 0;
    switch (sparse_.add_run(std::span<const sparse_entry>(run, run_size), refused)) {
    case sparse_counters::run_outcome::added: return {};
    case sparse_counters::run_outcome::past_limit:
        return {add_outcome::past_limit, keys::unpack(refused)};
    case sparse_counters::run_outcome::no_memory: break;
    }
    return {add_outcome::no_memory, table_key{}};
}

counting_table::add_result counting_table::add_wide_rows(std::span<wide_row> rows) {
    if (rows.empty()) {
        return {};
    }
    if (!wide_) {
        return {add_outcome::no_key, rows.front().key};
    }
    std::sort(rows.begin(), rows.end(),
              [](const wide_row& a, const wide_row& b) { return a.key < b.key; });
    const auto side = [&](const wide_row& row) { return direction_split_ ? row.key.direction : 0; };
    for (std::size_t at = 0; at < rows.size(); ++at) {
        const wide_row& row = rows[at];
        if (at != 0 && row.key.value == rows[at - 1].key.value &&
            side(row) == side(rows[at - 1])) {
            return {add_outcome::repeated, row.key};
        }
        table_counters* counters = wide_->counters_of(row.key.value, side(row));
        if (counters == nullptr) {
            return {add_outcome::no_memory, row.key};
        }
        if (!add_within_limit(*counters, table_counters{row.bytes, row.packets})) {
            return {add_outcome::past_limit, row.key};
        }
    }
    return {};
}

counting_table::add_result counting_table::add_table(counting_table& other) {
    table_rows rows;
    if (other.take_rows(rows) != 0) {
        return {add_outcome::no_memory, table_key{}};
    }
    try {
        std::vector<wide_row> wide_rows = other.take_wide_rows();
        return add_rows(rows.rows(), wide_rows);
    } catch (const std::bad_alloc&) {
        return {add_outcome::no_memory, table_key{}};
    }
}

}  // namespace tallywire
