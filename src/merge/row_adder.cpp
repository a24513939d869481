#include "merge/row_adder.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "report/json_document.h"
#include "report/row_keys.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

// Queued batches the reader may run ahead by: a quarter of a million rows
// at most, some 10 MB.
constexpr std::size_t most_queued = 64;

std::string refusal_reason(std::uint32_t kind, bool sides_apart,
                           const counting_table::add_result& added) {
    const std::string described =
        std::string(stat_kind_name(kind)) + " key " + key_in_message(kind, added.key);
    switch (added.outcome) {
    case counting_table::add_outcome::repeated: {
        const std::int8_t direction =
            std::visit([](const auto& key) { return key.direction; }, added.key);
        return described +
               (sides_apart
                    ? " (" + std::string(json_document::direction_names[direction != 0]) + ")"
                    : std::string()) +
               " stands twice";
    }
    case counting_table::add_outcome::past_limit:
        return "the sum of " + described + " passes 2^64 - 1";
    case counting_table::add_outcome::no_key: return described + " does not parse";
    case counting_table::add_outcome::added:
    case counting_table::add_outcome::no_memory: break;
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
    } else if (inline_ && !refused_) {
        add_gathered();
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
                held.unlock();
                if (!refused_) {
                    add_gathered();
                }
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
    if (batch.sums != gathered_.sums || batch.part != gathered_.part) {
        add_gathered();
        if (refused_) {
            return;
        }
        gathered_.sums = batch.sums;
        gathered_.kind = batch.kind;
        gathered_.part = batch.part;
        gathered_.sides_apart = batch.sides_apart;
    }
    try {
        for (const checked_row& row : batch.rows) {
            if (const auto* key = std::get_if<table_key>(&row.key)) {
                gathered_.rows.push_back(report_row{*key, row.counters.bytes, row.counters.packets});
            } else {
                gathered_.wide_rows.push_back(wide_row{std::get<wide_key>(row.key),
                                                       row.counters.bytes, row.counters.packets});
            }
        }
    } catch (const std::bad_alloc&) {
        refuse(batch.part, refusal_reason(batch.kind, batch.sides_apart,
                                          {counting_table::add_outcome::no_memory, table_key{}}));
    }
}

void row_adder::add_gathered() {
    if (gathered_.sums == nullptr) {
        return;
    }
    const counting_table::add_result added =
        gathered_.sums->add_rows(gathered_.rows, gathered_.wide_rows);
    // The memory stays for the next table's rows.
    gathered_.rows.clear();
    gathered_.wide_rows.clear();
    gathered_.sums = nullptr;
    if (added.outcome != counting_table::add_outcome::added) {
        refuse(gathered_.part, refusal_reason(gathered_.kind, gathered_.sides_apart, added));
    }
}

void row_adder::refuse(std::uint32_t part, std::string reason) {
    const std::lock_guard<std::mutex> held(lock_);
    refusal_ = add_refusal{part, std::move(reason)};
    refused_ = true;
    changed_.notify_all();
}

}  // namespace tallywire
