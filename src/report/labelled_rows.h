#pragma once

// The rows a report block prints, each with its label: the first rows of a
// kind in byte order, IPv4 and IPv6 rows merged, names looked up ahead.
// Every report format takes its rows from here, so that all of them print
// the same rows under the same labels.

#include <cstdint>
#include <span>
#include <string_view>

#include "settings.h"
#include "stats/table_records.h"

namespace tallywire {

// One printed row: exactly one of row and wide is set.
struct labelled_row {
    std::uint32_t kind = 0;
    std::string_view name;    // the label, without the direction mark
    std::string_view suffix;  // "> " or "< " while sides are counted apart
    const report_row* row = nullptr;
    const wide_row* wide = nullptr;

    std::uint64_t packets() const { return row ? row->packets : wide->packets; }
    std::uint64_t bytes() const { return row ? row->bytes : wide->bytes; }
    std::int8_t direction() const { return row ? row->key.direction : wide->key.direction; }

    // The whole name the resolver gave for the key (a host, service or
    // protocol name), which the label may cut; null under -n, or when
    // there is none.
    const char* resolved = nullptr;
};

// How the names of a block's rows are looked up: all of them ahead of the
// first line, concurrently, or each by its own label as it is made, one at
// a time. The shipped program always looks ahead; the other way is kept for
// the tests and the benchmark that compare the two (see
// tools/one_lookup/main.cpp).
enum class name_lookups { ahead, one_at_a_time };

// What the labels of a run depend on.
struct label_settings {
    bool no_resolve = false;       // -n: numbers only
    bool direction_split = false;  // -d: direction marks, and shorter host names
    name_lookups lookups = name_lookups::ahead;
};

inline label_settings label_settings_of(const run_config& config,
                                        name_lookups lookups = name_lookups::ahead) {
    return label_settings{config.no_resolve, config.direction_split, lookups};
}

class row_consumer {
public:
    virtual void take(const labelled_row& row) = 0;

protected:
    ~row_consumer() = default;
};

// Hands the first count rows of a kind to consumer, in order: rows and
// wide_rows are each largest first, and the larger head goes next. The
// labels stay valid only during the call of take. A kind the tables do not
// hold ends the block.
void label_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::span<const wide_row> wide_rows, const label_settings& labels,
                row_consumer& consumer);

}  // namespace tallywire
