#pragma once

// The merge's second thread: rows the reader has checked are added to the
// sums here while the reader parses the rows after them. Parsing and adding
// each take about half of a large merge, so the two overlap well on two
// cores. The rows of one table of one part are gathered until the table
// ends and then added whole (counting_table::add_rows), which also finds a
// key the part names twice.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "stats/counting_table.h"
#include "stats/table_records.h"

namespace tallywire {

struct checked_row {
    std::variant<table_key, wide_key> key;
    table_counters counters;
};

// Rows of one table of one part, in the order the part gave them.
struct row_batch {
    counting_table* sums = nullptr;
    std::uint32_t kind = 0;
    std::uint32_t part = 0;
    bool sides_apart = false;  // -d for a kind counted per side
    std::vector<checked_row> rows;
};

struct add_refusal {
    std::uint32_t part = 0;
    std::string reason;
};

class row_adder {
public:
    // Rows gathered before a batch is handed over.
    static constexpr std::size_t batch_rows = 4096;

    row_adder();
    ~row_adder();
    row_adder(const row_adder&) = delete;
    row_adder& operator=(const row_adder&) = delete;

    // Takes the batch's rows (it is left empty, with room for batch_rows).
    // False once an add has been refused: the reader stops there, and
    // finish tells why.
    bool hand_over(row_batch& batch);

    // Waits for every row handed over; the first refusal, if an add was
    // refused. Every batch of a part before it was added.
    std::optional<add_refusal> finish();

private:
    void run();
    void add(const row_batch& batch);
    // Adds the table gathered so far.
    void add_gathered();
    void refuse(std::uint32_t part, std::string reason);

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<row_batch> queue_;
    std::vector<std::vector<checked_row>> spare_;  // emptied rows, for reuse
    bool closed_ = false;
    bool refused_ = false;
    std::optional<add_refusal> refusal_;
    std::thread worker_;
    bool inline_ = false;  // no thread could be had: hand_over adds

    // The table being gathered, which only the adding side touches.
    struct gathered_table {
        counting_table* sums = nullptr;
        std::uint32_t kind = 0;
        std::uint32_t part = 0;
        bool sides_apart = false;
        std::vector<report_row> rows;
        std::vector<wide_row> wide_rows;
    };
    gathered_table gathered_;
};

}  // namespace tallywire
