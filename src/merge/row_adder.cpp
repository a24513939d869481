#include "merge/row_adder.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "report/json_document.h"
#include "report/row_keys.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

// Queued batches the reader may run ahead by: enough to ride out the adder's
// pauses while a large hash map doubles (tens of milliseconds), a quarter
// of a million rows at most, some 10 MB.
constexpr std::size_t most_queued = 64;
// How far ahead of its add a key's slot is prefetched, and then the row
// that slot points to.
constexpr std::size_t prefetch_distance = 16;
constexpr std::size_t row_prefetch_distance = 8;

std::string refusal_reason(const row_batch& batch, const checked_row& row,
                           summed_rows::outcome added) {
    const std::string described =
        std::string(stat_kind_name(batch.kind)) + " key " + key_in_message(batch.kind, row.key);
    switch (added) {
    case summed_rows::outcome::repeated: {
        const std::int8_t direction =
            std::visit([](const auto& key) { return key.direction; }, row.key);
        return described +
               (batch.sides_apart
                    ? " (" + std::string(json_document::direction_names[direction != 0]) + ")"
                    : std::string()) +
               " stands twice";
    }
    case summed_rows::outcome::past_limit:
        return "the sum of " + described + " passes 2^64 - 1";
    case summed_rows::outcome::added:
    case summed_rows::outcome::no_memory: break;
    }
    return std::string("no memory for the sums: ") + std::strerror(ENOMEM);
}

}  // namespace

row_adder::row_adder() {
    try {
        worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        inline_ = true;
    }
}

row_adder::~row_adder() { finish(); }

bool row_adder::hand_over(row_batch& batch) {
    if (inline_) {
        if (!refused_) {
            add(batch);
        }
        batch.rows.clear();
        return !refused_;
    }
    std::unique_lock<std::mutex> held(lock_);
    changed_.wait(held, [&] { return queue_.size() < most_queued || refused_; });
    if (refused_) {
        batch.rows.clear();
        return false;
    }
    row_batch queued{batch.sums, batch.kind, batch.part, batch.sides_apart, {}};
    queued.rows.swap(batch.rows);
    queue_.push_back(std::move(queued));
    if (!spare_.empty()) {
        batch.rows = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
    return true;
}

std::optional<add_refusal> row_adder::finish() {
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> held(lock_);
            closed_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    return refusal_;
}

void row_adder::run() {
    for (;;) {
        row_batch batch;
        {
            std::unique_lock<std::mutex> held(lock_);
            changed_.wait(held, [&] { return !queue_.empty() || closed_; });
            if (queue_.empty()) {
                return;
            }
            batch = std::move(queue_.front());
            queue_.pop_front();
        }
        changed_.notify_all();
        if (!refused_) {
            add(batch);
        }
        batch.rows.clear();
        const std::lock_guard<std::mutex> held(lock_);
        spare_.push_back(std::move(batch.rows));
    }
}

void row_adder::add(const row_batch& batch) {
    summed_rows& sums = *batch.sums;
    const std::vector<checked_row>& rows = batch.rows;
    for (std::size_t next = 0; next < rows.size(); ++next) {
        if (next + prefetch_distance < rows.size()) {
            std::visit([&](const auto& key) { sums.prefetch(key); },
                       rows[next + prefetch_distance].key);
        }
        if (next + row_prefetch_distance < rows.size()) {
            std::visit([&](const auto& key) { sums.prefetch_row(key); },
                       rows[next + row_prefetch_distance].key);
        }
        const checked_row& row = rows[next];
        const summed_rows::outcome added =
            std::visit([&](const auto& key) { return sums.add(key, row.counters, batch.part); },
                       row.key);
        if (added != summed_rows::outcome::added) {
            const std::lock_guard<std::mutex> held(lock_);
            refusal_ = add_refusal{batch.part, refusal_reason(batch, row, added)};
            refused_ = true;
            changed_.notify_all();
            return;
        }
    }
}

}  // namespace tallywire
