#include "stats/ordered_store.h"

namespace tallywire {

std::unique_ptr<ordered_store> ordered_store::open(std::uint32_t dense_values,
                                                    bool direction_split, bool deferred_slots) {
    std::unique_ptr<ordered_store> store(new ordered_store(dense_values, direction_split));
    const std::size_t slots = std::size_t{dense_values} * (direction_split ? 2 : 1);
    if (!store->dense_.open(slots, deferred_slots)) {
        return nullptr;
    }
    return store;
}

int ordered_store::find(const table_key& key, table_counters& counters) {
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

int ordered_store::store(const table_key& key, const table_counters& counters) {
    // Every entry has counted at least one packet; the slots rely on it.
    if (counters.packets == 0) {
        errno = EINVAL;
        return -1;
    }
    return route(
        key, [&](std::size_t slot) { dense_.store(slot, counters); },
        [&](std::uint64_t ordered) { return sparse_.store(ordered, counters); });
}

table_key ordered_store::slot_key(std::size_t slot) const {
    if (!direction_split_) {
        return table_key{static_cast<std::uint32_t>(slot), 0};
    }
    return table_key{static_cast<std::uint32_t>(slot / 2), static_cast<std::int8_t>(slot % 2)};
}

std::size_t ordered_store::first_slot_after(const table_key& key) const {
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

int ordered_store::next(table_key& key, table_counters& counters) {
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

int ordered_store::take_rows(table_rows& rows) {
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
    // Slots and sparse entries interleave in key order: walked into an array
    // of their own. Short of memory for all of them, the walk keeps as many
    // of the first rows as there is room for.
    std::size_t total = size();
    page_array<report_row> pages;
    while (total != 0 && !pages.resize(total)) {
        total /= 2;
    }
    table_key key{};
    table_counters counters{};
    std::size_t count = 0;
    while (count < total && next(key, counters) == 0) {
        pages[count++] = report_row{key, counters.bytes, counters.packets};
    }
    // The store is left empty, as when its rows are taken in place.
    dense_.clear();
    table_rows dropped;
    sparse_.take_rows(dropped);
    rows = table_rows(std::move(pages), count);
    return 0;
}

}  // namespace tallywire
