#include "stats/sparse_counters.h"

#include <absl/hash/hash.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

namespace {

// Positions are 32-bit, which caps a table at this many entries.
constexpr std::size_t max_entries = std::numeric_limits<std::uint32_t>::max();

// The first array holds a page of entries; it doubles from there.
constexpr std::size_t first_capacity = 4096 / sizeof(sparse_entry);

std::size_t hash_key(std::uint64_t key) { return absl::Hash<std::uint64_t>{}(key); }

bool key_less(const sparse_entry& entry, std::uint64_t key) { return entry.key < key; }

}  // namespace

std::size_t sparse_counters::position_hash::operator()(position at) const {
    return hash_key(owner->entries_[at.index].key);
}

std::size_t sparse_counters::position_hash::operator()(probe wanted) const {
    return hash_key(wanted.key);
}

bool sparse_counters::position_equal::operator()(position at, probe wanted) const {
    return owner->entries_[at.index].key == wanted.key;
}

sparse_counters::sparse_counters()
    : index_(std::make_unique<position_index>(0, position_hash{this}, position_equal{this})) {}

sparse_counters::~sparse_counters() = default;

table_counters* sparse_counters::locate(std::uint64_t key) const {
    if (index_) {
        const auto found = index_->find(probe{key});
        return found == index_->end() ? nullptr : &entries_[found->index].counters;
    }
    const auto sorted = entries_.first(count_);
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), key, key_less);
    return found != sorted.end() && found->key == key ? &found->counters : nullptr;
}

const table_counters* sparse_counters::find(std::uint64_t key) const { return locate(key); }

int sparse_counters::add(std::uint64_t key, std::uint32_t length) {
    if (table_counters* counters = locate(key)) {
        counters->bytes += length;
        ++counters->packets;
        return 0;
    }
    return insert(key, table_counters{length, 1});
}

int sparse_counters::store(std::uint64_t key, const table_counters& counters) {
    if (table_counters* stored = locate(key)) {
        *stored = counters;
        return 0;
    }
    return insert(key, counters);
}

int sparse_counters::insert(std::uint64_t key, const table_counters& counters) {
    if (broken_ || count_ == max_entries) {
        errno = ENOMEM;
        return -1;
    }
    // An entry arriving after a walk sends the table back to hashed lookups.
    if (!index_ && !build_index()) {
        return -1;
    }
    if (count_ == entries_.capacity() &&
        !entries_.resize(std::max(first_capacity, entries_.capacity() * 2))) {
        return -1;
    }
    entries_[count_] = sparse_entry{key, counters};
    try {
        index_->insert(position{static_cast<std::uint32_t>(count_)});
    } catch (const std::bad_alloc&) {
        // A flat hash set whose growth failed half-way cannot be destroyed
        // safely, so it is let go; the process is about to end on this error.
        static_cast<void>(index_.release());
        broken_ = true;
        errno = ENOMEM;
        return -1;
    }
    ++count_;
    return 0;
}

bool sparse_counters::build_index() {
    auto index = std::make_unique<position_index>(0, position_hash{this}, position_equal{this});
    try {
        index->reserve(count_ + 1);
    } catch (const std::bad_alloc&) {
        static_cast<void>(index.release());  // see insert
        errno = ENOMEM;
        return false;
    }
    for (std::size_t i = 0; i < count_; ++i) {
        index->insert(position{static_cast<std::uint32_t>(i)});
    }
    index_ = std::move(index);
    return true;
}

void sparse_counters::sort_for_walk() {
    const auto entries = entries_.first(count_);
    std::sort(entries.begin(), entries.end(),
              [](const sparse_entry& a, const sparse_entry& b) { return a.key < b.key; });
    index_.reset();
    cursor_ = 0;
}

const sparse_entry* sparse_counters::next_after(std::uint64_t key) {
    if (broken_) {
        return nullptr;
    }
    if (index_) {
        sort_for_walk();
    }
    const auto entries = entries_.first(count_);
    // The cursor is the answer when it sits just past every key up to key.
    const auto is_answer = [&](std::size_t at) {
        return at <= count_ && (at == 0 || entries[at - 1].key <= key) &&
               (at == count_ || entries[at].key > key);
    };
    std::size_t at = cursor_;
    if (!is_answer(at)) {
        at = is_answer(at + 1) ? at + 1
                               : static_cast<std::size_t>(
                                     std::upper_bound(entries.begin(), entries.end(), key,
                                                      [](std::uint64_t wanted,
                                                         const sparse_entry& entry) {
                                                          return wanted < entry.key;
                                                      }) -
                                     entries.begin());
    }
    cursor_ = at;
    return at == count_ ? nullptr : &entries[at];
}
