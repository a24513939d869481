#include "report/labelled_rows.h"

#include <array>
#include <optional>

#include "report/name_lookups.h"
#include "report/row_labels.h"
#include "stats/stat_kinds.h"
#include "stats/table_keys.h"

namespace tallywire {

namespace {

// Room for any label made from a database name or an address text.
constexpr std::size_t label_text_size = 256;

// The label of a row, or nothing for a kind the tables do not hold.
struct row_label {
    std::string_view name;
    std::string_view suffix;
    const char* resolved = nullptr;
};

// Labels from the names looked up ahead when there are some; without them
// each label looks up its own.
class label_maker {
public:
    // The names of wide rows follow those of the first named_rows rows.
    label_maker(std::uint32_t kind, const row_names& names, std::size_t named_rows,
                const label_settings& labels)
        : kind_(kind),
          names_(names),
          named_rows_(named_rows),
          no_resolve_(labels.no_resolve),
          split_(labels.direction_split),
          host_width_(labels.direction_split ? host_name_width_split : host_name_width) {}

    // index: the row's place among the rows whose names were looked up.
    std::optional<row_label> operator()(const report_row& row, std::size_t index) {
        const std::uint32_t value = row.key.value;
        const bool named = names_.ready();
        switch (kind_) {
        case stat_total: return row_label{"Total", ""};
        case stat_link: return row_label{link_label(keys::link_code_of(value)), ""};
        case stat_ip: {
            const std::uint16_t protocol = keys::protocol_of(value);
            return row_label{named ? named_protocol_label(protocol, names_.name(index))
                                   : protocol_label(protocol, no_resolve_),
                             "", resolved(index)};
        }
        case stat_port: {
            const std::uint16_t port = keys::port_of(value);
            return row_label{named ? named_service_label(port, names_.name(index))
                                   : service_label(port, no_resolve_),
                             direction_suffix(row.key.direction, split_), resolved(index)};
        }
        case stat_host:
            return row_label{named ? named_host_label(value, names_.name(index), host_width_, text_)
                                   : host_label(value, no_resolve_, host_width_, text_),
                             direction_suffix(row.key.direction, split_), resolved(index)};
        case stat_network:
            return row_label{network_label(value, text_), direction_suffix(row.key.direction, split_)};
        default: return std::nullopt;
        }
    }

    std::optional<row_label> operator()(const wide_row& row, std::size_t index) {
        switch (kind_) {
        case stat_host:
            return row_label{
                names_.ready()
                    ? named_ipv6_host_label(row.key.value.bytes(), names_.name(named_rows_ + index),
                                            host_width_, text_)
                    : ipv6_host_label(row.key.value.bytes(), no_resolve_, host_width_, text_),
                direction_suffix(row.key.direction, split_), resolved(named_rows_ + index)};
        case stat_network:
            return row_label{ipv6_network_label(row.key.value.bytes(), text_),
                             direction_suffix(row.key.direction, split_)};
        default: return std::nullopt;
        }
    }

private:
    // The name looked up ahead for the row at index. A label that looks
    // up its own name (one lookup at a time) keeps it to itself.
    const char* resolved(std::size_t index) const {
        return names_.ready() ? names_.name(index) : nullptr;
    }

    std::uint32_t kind_;
    const row_names& names_;
    std::size_t named_rows_;
    bool no_resolve_;
    bool split_;
    std::size_t host_width_;
    std::array<char, label_text_size> text_{};
};


// The two lists are each largest first: the larger head goes next. Calls
// take(from_wide) for each of the first count rows.
template <class take_type>
void merge_by_bytes(std::span<const report_row> rows, std::span<const wide_row> wide_rows,
                    std::uint32_t count, take_type take) {
    std::size_t next = 0;
    std::size_t next_wide = 0;
    for (std::uint32_t printed = 0; printed < count; ++printed) {
        const bool rows_left = next < rows.size();
        const bool wide_left = next_wide < wide_rows.size();
        if (wide_left && (!rows_left || wide_rows[next_wide].bytes > rows[next].bytes)) {
            if (!take(true, next_wide++)) {
                return;
            }
        } else if (rows_left) {
            if (!take(false, next++)) {
                return;
            }
        } else {
            return;
        }
    }
}

}  // namespace

void label_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::span<const wide_row> wide_rows, const label_settings& labels,
                row_consumer& consumer) {
    // Every name the printed rows need, before the first line: the lookups
    // overlap instead of queueing.
    std::size_t printed_rows = 0;
    std::size_t printed_wide_rows = 0;
    merge_by_bytes(rows, wide_rows, count, [&](bool from_wide, std::size_t) {
        ++(from_wide ? printed_wide_rows : printed_rows);
        return true;
    });
    const row_names names =
        labels.no_resolve || labels.lookups == name_lookups::one_at_a_time
            ? row_names{}
            : look_up_row_names(kind, rows.first(printed_rows),
                                wide_rows.first(printed_wide_rows));
    label_maker label(kind, names, printed_rows, labels);
    const auto hand_over = [&](const auto& row, std::size_t index, labelled_row made) {
        const std::optional<row_label> text = label(row, index);
        if (!text) {
            return false;  // not a kind the tables hold
        }
        made.name = text->name;
        made.suffix = text->suffix;
        made.resolved = text->resolved;
        consumer.take(made);
        return true;
    };
    merge_by_bytes(rows, wide_rows, count, [&](bool from_wide, std::size_t index) {
        return from_wide ? hand_over(wide_rows[index], index,
                                     labelled_row{kind, {}, {}, nullptr, &wide_rows[index]})
                         : hand_over(rows[index], index,
                                     labelled_row{kind, {}, {}, &rows[index], nullptr});
    });
}

}  // namespace tallywire
