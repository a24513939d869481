#include "stats/sparse_counters.h"

#include <absl/hash/hash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "stats/table_keys.h"

namespace tallywire {

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
    if (mode_ == sparse_mode::hashed) {
        const auto found = index_->find(probe{key});
        return found == index_->end() ? nullptr : &entries_[found->index].counters;
    }
    const auto sorted = entries_.first(count_);
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), key, key_less);
    return found != sorted.end() && found->key == key ? &found->counters : nullptr;
}

const table_counters* sparse_counters::find(std::uint64_t key) {
    if (log_.size() != 0 && !merge_log()) {
        return nullptr;
    }
    return locate(key);
}

int sparse_counters::add(std::uint64_t key, std::uint32_t length) {
    switch (mode_) {
    case sparse_mode::logging: return log_count(key, length);
    case sparse_mode::hashed: break;
    case sparse_mode::sorted:
        reopen();
        if (mode_ == sparse_mode::logging) {
            return log_count(key, length);
        }
        break;
    case sparse_mode::broken: errno = ENOMEM; return -1;
    }
    if (table_counters* counters = locate(key)) {
        counters->bytes += length;
        ++counters->packets;
        return 0;
    }
    return insert(key, table_counters{length, 1});
}

int sparse_counters::store(std::uint64_t key, const table_counters& counters) {
    if (mode_ == sparse_mode::broken || (log_.size() != 0 && !merge_log())) {
        errno = ENOMEM;
        return -1;
    }
    if (table_counters* stored = locate(key)) {
        *stored = counters;
        return 0;
    }
    reopen();
    return mode_ == sparse_mode::logging ? insert_in_order(key, counters) : insert(key, counters);
}

int sparse_counters::insert(std::uint64_t key, const table_counters& counters) {
    if (mode_ == sparse_mode::broken || count_ == max_entries) {
        errno = ENOMEM;
        return -1;
    }
    // An entry arriving after a walk sends the table back to hashed lookups.
    if (mode_ == sparse_mode::sorted && !build_index()) {
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
        mode_ = sparse_mode::broken;
        errno = ENOMEM;
        return -1;
    }
    ++count_;
    if (count_ == log_from) {
        sort_entries();
        mode_ = sparse_mode::logging;
    }
    return 0;
}

// A stored entry of a new key in a sorted table: rare (counting goes
// through the log), so the array's tail is simply moved up by one.
int sparse_counters::insert_in_order(std::uint64_t key, const table_counters& counters) {
    if (count_ == entries_.capacity() && !entries_.resize(entries_.capacity() * 2)) {
        return -1;
    }
    const auto entries = entries_.first(count_ + 1);
    const auto at = std::lower_bound(entries.begin(), entries.end() - 1, key, key_less);
    std::copy_backward(at, entries.end() - 1, entries.end());
    *at = sparse_entry{key, counters};
    ++count_;
    return 0;
}

int sparse_counters::log_count(std::uint64_t key, std::uint32_t length) {
    if (!count_log::holds(key, length)) [[unlikely]] {
        // A length no real frame has: counted into its entry directly.
        if (log_.size() != 0 && !merge_log()) {
            return -1;
        }
        if (table_counters* counters = locate(key)) {
            counters->bytes += length;
            ++counters->packets;
            return 0;
        }
        return insert_in_order(key, table_counters{length, 1});
    }
    if (log_.full()) {
        if (log_.size() != 0 && !merge_log()) {
            return -1;
        }
        // The log grows with the table, to twice as many records as it has
        // entries: the merges, each a pass over every entry, then stay few,
        // and the log with its scratch costs 32 bytes per entry. The report's
        // rows take the entries' place (take_rows), so this is the run's peak.
        if (!log_.reserve(std::max(least_log_records, 2 * count_))) {
            return -1;
        }
    }
    log_.append(key, length);
    return 0;
}

std::size_t sparse_counters::make_room(std::span<const logged_count> counts) {
    // The merges run from the back of room for exactly the logged keys that
    // are new, so that they never overwrite an entry they have yet to move
    // and end where the entries below every logged key begin. Room for
    // every distinct key instead would leave a gap to close by moving every
    // merged entry down once more, and would touch pages that only the gap
    // used. One pass over the log and the entries in step finds the keys
    // already known.
    std::size_t distinct = counts.empty() ? 0 : 1;
    for (std::size_t i = 1; i < counts.size(); ++i) {
        distinct += counts[i].key() != counts[i - 1].key();
    }
    const sparse_entry* const entries = entries_.first(count_).data();
    std::size_t known = 0;
    std::size_t e = 0;
    for (std::size_t r = 0; r < counts.size();) {
        const std::uint64_t logged = counts[r].key();
        const std::uint64_t entry = e < count_ ? entries[e].key : ~std::uint64_t{0};
        known += logged == entry;
        r += logged <= entry;
        e += entry <= logged;
    }
    const std::size_t top = count_ + distinct - known;
    if (top > entries_.capacity() && !entries_.resize(std::max(top, entries_.capacity() * 2))) {
        mode_ = sparse_mode::broken;
        return 0;
    }
    return top;
}

namespace {

// Merges the sorted counts into the sorted entries below them, from the
// back down from top (see make_room), and calls put(at, key, counters) for
// every merged entry, at falling places. Returns how many entries at the
// front were below every logged key: those are left where they are.
template <class put_type>
std::size_t merge_from_back(sparse_entry* entries, std::size_t count,
                            std::span<const logged_count> counts, std::size_t top, put_type put) {
    std::size_t write = top;
    std::size_t old = count;
    for (std::size_t i = counts.size(); i != 0;) {
        const std::uint64_t key = counts[i - 1].key();
        table_counters sum{};
        for (; i != 0 && counts[i - 1].key() == key; --i) {
            sum.bytes += counts[i - 1].length();
            ++sum.packets;
        }
        while (old != 0 && entries[old - 1].key > key) {
            --old;
            put(--write, entries[old].key, entries[old].counters);
        }
        if (old != 0 && entries[old - 1].key == key) {
            --old;
            sum.bytes += entries[old].counters.bytes;
            sum.packets += entries[old].counters.packets;
        }
        put(--write, key, sum);
    }
    return old;
}

// A report row written over the place of an entry, which has the same size
// and has been read by then.
void put_row(sparse_entry* entries, std::size_t at, std::uint64_t key,
             const table_counters& counters) {
    static_assert(sizeof(report_row) == sizeof(sparse_entry));
    const report_row row{keys::unpack(key), counters.bytes, counters.packets};
    std::memcpy(static_cast<void*>(entries + at), &row, sizeof row);
}

// The first count entries become rows where they lie.
void put_rows(sparse_entry* entries, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const sparse_entry entry = entries[i];
        put_row(entries, i, entry.key, entry.counters);
    }
}

}  // namespace

bool sparse_counters::merge_log(merge_output output) {
    const std::span<const logged_count> counts = log_.sort();
    const std::size_t top = make_room(counts);
    if (mode_ == sparse_mode::broken) {
        return false;
    }
    sparse_entry* const entries = entries_.first(top).data();
    if (output == merge_output::rows) {
        const auto put = [entries](std::size_t at, std::uint64_t key,
                                   const table_counters& counters) {
            put_row(entries, at, key, counters);
        };
        put_rows(entries, merge_from_back(entries, count_, counts, top, put));
    } else {
        const auto put = [entries](std::size_t at, std::uint64_t key,
                                   const table_counters& counters) {
            entries[at] = sparse_entry{key, counters};
        };
        merge_from_back(entries, count_, counts, top, put);
    }
    count_ = top;
    cursor_ = 0;
    log_.clear();
    return true;
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
    mode_ = sparse_mode::hashed;
    return true;
}

void sparse_counters::sort_entries() {
    const auto entries = entries_.first(count_);
    std::sort(entries.begin(), entries.end(),
              [](const sparse_entry& a, const sparse_entry& b) { return a.key < b.key; });
    index_.reset();
    cursor_ = 0;
}

void sparse_counters::sort_for_walk() {
    if (mode_ == sparse_mode::hashed) {
        sort_entries();
    }
    if (log_.size() != 0 && !merge_log()) {
        return;
    }
    // A walk is about to read every entry, most likely into rows of their
    // own: the log's memory, and that of the room the merges left past the
    // entries, serve better there.
    log_.release();
    entries_.discard_after(count_);
    mode_ = sparse_mode::sorted;
}

bool sparse_counters::take_rows(table_rows& rows) {
    if (mode_ == sparse_mode::broken) {
        return false;
    }
    if (mode_ == sparse_mode::hashed) {
        sort_entries();
    }
    if (log_.size() != 0) {
        if (!merge_log(merge_output::rows)) {
            return false;
        }
    } else {
        put_rows(entries_.first(count_).data(), count_);
    }
    log_.release();
    entries_.discard_after(count_);
    rows = table_rows(page_array<report_row>(entries_.release_pages()), std::exchange(count_, 0));
    entries_ = page_array<sparse_entry>{page_use::front_to_back};
    cursor_ = 0;
    // Sorted and empty: the next new entry builds a fresh index.
    mode_ = sparse_mode::sorted;
    return true;
}

const sparse_entry* sparse_counters::next_after(std::uint64_t key) {
    if (mode_ != sparse_mode::sorted) {
        if (mode_ != sparse_mode::broken) {
            sort_for_walk();
        }
        if (mode_ == sparse_mode::broken) {
            return nullptr;
        }
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

}  // namespace tallywire
