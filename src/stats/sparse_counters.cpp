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
    case sparse_mode::sorted: mode_ = sparse_mode::logging; return log_count(key, length);
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
    return mode_ == sparse_mode::hashed ? insert(key, counters) : insert_sorted(key, counters);
}

int sparse_counters::insert(std::uint64_t key, const table_counters& counters) {
    if (count_ == max_entries) {
        errno = ENOMEM;
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

int sparse_counters::insert_sorted(std::uint64_t key, const table_counters& counters) {
    const sparse_entry entry{key, counters};
    std::uint64_t refused = 0;
    if (add_run(std::span<const sparse_entry>(&entry, 1), refused) != run_outcome::added) {
        errno = ENOMEM;
        return -1;
    }
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
        return insert_sorted(key, table_counters{length, 1});
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

std::size_t sparse_counters::make_room(std::size_t new_keys) {
    // The merges run from the back of room for exactly the keys that are
    // new, so that they never overwrite an entry they have yet to move and
    // end where the entries below every added key begin. Room for every
    // added key instead would leave a gap to close by moving every merged
    // entry down once more, and would touch pages that only the gap used.
    const std::size_t top = count_ + new_keys;
    if (top > max_entries ||
        (top > entries_.capacity() && !entries_.resize(std::max(top, entries_.capacity() * 2)))) {
        mode_ = sparse_mode::broken;
        return 0;
    }
    return top;
}

namespace {

// What a merge adds, taken from the back: the log's counts, a key's
// records summed into one entry, or a run of entries.
struct logged_additions {
    std::span<const logged_count> counts;
    bool empty() const { return counts.empty(); }
    std::uint64_t take_last(table_counters& sum) {
        const std::uint64_t key = counts.back().key();
        for (; !counts.empty() && counts.back().key() == key;
             counts = counts.first(counts.size() - 1)) {
            sum.bytes += counts.back().length();
            ++sum.packets;
        }
        return key;
    }
};
struct run_additions {
    std::span<const sparse_entry> run;
    bool empty() const { return run.empty(); }
    std::uint64_t take_last(table_counters& sum) {
        const sparse_entry& last = run.back();
        run = run.first(run.size() - 1);
        sum = last.counters;
        return last.key;
    }
};

// Merges the additions, sorted by key, into the sorted entries below them,
// from the back down from top (see make_room), and calls put(at, key,
// counters) for every merged entry, at falling places. Returns how many
// entries at the front were below every added key: those are left where
// they are. The sums are not checked: a log's lengths cannot reach 2^64,
// and a run's sums are checked before.
template <class additions_type, class put_type>
std::size_t merge_from_back(sparse_entry* entries, std::size_t count, additions_type additions,
                            std::size_t top, put_type put) {
    std::size_t write = top;
    std::size_t old = count;
    while (!additions.empty()) {
        table_counters sum{};
        const std::uint64_t key = additions.take_last(sum);
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
    // One pass over the log and the entries in step finds the logged keys
    // that are new.
    std::size_t distinct = counts.empty() ? 0 : 1;
    for (std::size_t i = 1; i < counts.size(); ++i) {
        distinct += counts[i].key() != counts[i - 1].key();
    }
    const sparse_entry* const sorted = entries_.first(count_).data();
    std::size_t known = 0;
    std::size_t e = 0;
    for (std::size_t r = 0; r < counts.size();) {
        const std::uint64_t logged = counts[r].key();
        const std::uint64_t entry = e < count_ ? sorted[e].key : ~std::uint64_t{0};
        known += logged == entry;
        r += logged <= entry;
        e += entry <= logged;
    }
    const std::size_t top = make_room(distinct - known);
    if (mode_ == sparse_mode::broken) {
        return false;
    }
    sparse_entry* const entries = entries_.first(top).data();
    if (output == merge_output::rows) {
        const auto put = [entries](std::size_t at, std::uint64_t key,
                                   const table_counters& counters) {
            put_row(entries, at, key, counters);
        };
        put_rows(entries, merge_from_back(entries, count_, logged_additions{counts}, top, put));
    } else {
        const auto put = [entries](std::size_t at, std::uint64_t key,
                                   const table_counters& counters) {
            entries[at] = sparse_entry{key, counters};
        };
        merge_from_back(entries, count_, logged_additions{counts}, top, put);
    }
    count_ = top;
    log_.clear();
    return true;
}

sparse_counters::run_outcome sparse_counters::add_run(std::span<const sparse_entry> run,
                                                      std::uint64_t& refused) {
    if (mode_ == sparse_mode::broken) {
        return run_outcome::no_memory;
    }
    // A run that leaves a hashed table small is added a lookup at a time.
    if (mode_ == sparse_mode::hashed && count_ + run.size() < log_from) {
        for (const sparse_entry& added : run) {
            const table_counters* counters = locate(added.key);
            table_counters sum = counters ? *counters : table_counters{};
            if (!add_within_limit(sum, added.counters)) {
                refused = added.key;
                return run_outcome::past_limit;
            }
        }
        for (const sparse_entry& added : run) {
            if (table_counters* counters = locate(added.key)) {
                add_within_limit(*counters, added.counters);
            } else if (insert(added.key, added.counters) != 0) {
                return run_outcome::no_memory;
            }
        }
        return run_outcome::added;
    }
    if (mode_ == sparse_mode::hashed) {
        sort_entries();
        mode_ = sparse_mode::logging;
    }
    if (!settle()) {
        return run_outcome::no_memory;
    }
    // The run and the entries in step: the keys already known, their sums
    // checked before anything moves.
    const sparse_entry* const sorted = entries_.first(count_).data();
    std::size_t known = 0;
    std::size_t e = 0;
    for (const sparse_entry& added : run) {
        while (e < count_ && sorted[e].key < added.key) {
            ++e;
        }
        if (e < count_ && sorted[e].key == added.key) {
            ++known;
            table_counters sum = sorted[e].counters;
            if (!add_within_limit(sum, added.counters)) {
                refused = added.key;
                return run_outcome::past_limit;
            }
        }
    }
    const std::size_t top = make_room(run.size() - known);
    if (mode_ == sparse_mode::broken) {
        return run_outcome::no_memory;
    }
    sparse_entry* const entries = entries_.first(top).data();
    merge_from_back(entries, count_, run_additions{run}, top,
                    [entries](std::size_t at, std::uint64_t key, const table_counters& counters) {
                        entries[at] = sparse_entry{key, counters};
                    });
    count_ = top;
    return run_outcome::added;
}

void sparse_counters::sort_entries() {
    const auto entries = entries_.first(count_);
    std::sort(entries.begin(), entries.end(),
              [](const sparse_entry& a, const sparse_entry& b) { return a.key < b.key; });
    index_.reset();
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
    // Sorted and empty: the next count goes to the log.
    mode_ = sparse_mode::sorted;
    return true;
}

std::span<const sparse_entry> sparse_counters::sorted_entries() {
    if (mode_ != sparse_mode::sorted && mode_ != sparse_mode::broken) {
        sort_for_walk();
    }
    if (mode_ == sparse_mode::broken) {
        return {};
    }
    return entries_.first(count_);
}

const sparse_entry* sparse_counters::next_after(std::uint64_t key) {
    const std::span<const sparse_entry> entries = sorted_entries();
    const auto after = std::upper_bound(
        entries.begin(), entries.end(), key,
        [](std::uint64_t wanted, const sparse_entry& entry) { return wanted < entry.key; });
    return after == entries.end() ? nullptr : &*after;
}

}  // namespace tallywire
