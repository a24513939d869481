#include <array>
#include <optional>
#include <string>

#include "report/escaped_text.h"
#include "report/json_document.h"
#include "report/output_batch.h"
#include "report/report_formats.h"
#include "report/row_format.h"
#include "report/row_keys.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

namespace doc = json_document;

// One document (see json_document.h), each table and each row on a line
// of its own so that line tools and diffs can follow it.
class json_report final : public report_writer, private row_consumer {
public:
    json_report(const run_config& config, std::FILE* out) : config_(config), out_(out) {}

    void begin(const report_summary& summary) override {
        total_bytes_ = summary.bytes;
        // An interval's document is one line of JSON Lines; a whole run's
        // puts each table and row on a line of its own.
        separator_ = summary.interval ? "," : ",\n";
        opening_ = summary.interval ? "" : "\n";
        const run_config& chosen = config_;
        std::string& text = out_.text();
        text.push_back('{');
        for (const doc::member_rule& rule : doc::members_of(doc::object::document)) {
            const bool of_interval = rule.id == doc::member::interval ||
                                     rule.id == doc::member::partial ||
                                     rule.id == doc::member::late;
            if (of_interval && !summary.interval) {
                continue;  // a whole run's document
            }
            member(rule);
            switch (rule.id) {
            case doc::member::program: append_json_string(text, doc::program_name); break;
            case doc::member::version: append_json_string(text, TALLYWIRE_VERSION); break;
            case doc::member::format: out_.put_number(doc::format_number); break;
            case doc::member::interval: put_interval(*summary.interval); break;
            case doc::member::partial: put_bool(summary.interval->partial); break;
            case doc::member::late: out_.put_number(summary.interval->late); break;
            case doc::member::settings: put_settings(chosen); break;
            case doc::member::complete: put_bool(summary.complete); break;
            case doc::member::read_error: put_bool(summary.outcome.stopped_at_read_error); break;
            case doc::member::drops: put_drops(summary.outcome.drops); break;
            case doc::member::totals:
                text.push_back('{');
                for (const doc::member_rule& total : doc::members_of(doc::object::totals)) {
                    member(total);
                    out_.put_number(total.id == doc::member::totals_packets ? summary.packets
                                                                            : summary.bytes);
                }
                text.push_back('}');
                break;
            case doc::member::tables:  // left open for the tables
                text.push_back('[');
                text.append(opening_);
                break;
            default: break;
            }
        }
    }

    void begin_table(std::uint32_t kind) override {
        std::string& text = out_.text();
        if (!first_table_) {
            text.append(separator_);
        }
        text.push_back('{');
        first_table_ = false;
        for (const doc::member_rule& rule : doc::members_of(doc::object::table)) {
            member(rule);
            if (rule.id == doc::member::kind) {
                append_json_string(text, stat_kind_name(kind));
            } else {
                text.push_back('[');  // rows: left open for the rows
            }
        }
        first_row_ = true;
    }

    row_consumer& rows() override { return *this; }

    void end_table() override { out_.put("]}"); }

    void end() override {
        out_.put("]}\n");
        out_.flush();
    }

private:
    void take(const labelled_row& row) override {
        std::string& text = out_.text();
        text.append(first_row_ ? opening_ : separator_);
        text.push_back('{');
        first_row_ = false;
        for (const doc::member_rule& rule : doc::members_of(doc::object::row)) {
            if (rule.id == doc::member::direction && row.suffix.empty()) {
                continue;  // sides are not counted apart
            }
            member(rule);
            switch (rule.id) {
            case doc::member::key: put_key(row); break;
            case doc::member::label: append_json_string(text, row.name); break;
            case doc::member::direction:
                append_json_string(text, doc::direction_names[row.direction() == 0 ? 0 : 1]);
                break;
            case doc::member::packets: out_.put_number(row.packets()); break;
            case doc::member::bytes: out_.put_number(row.bytes()); break;
            case doc::member::share: put_share(row.bytes()); break;
            case doc::member::name:
                if (row.resolved != nullptr) {
                    append_json_string(text, row.resolved);
                } else {
                    text.append("null");
                }
                break;
            default: break;
            }
        }
        text.push_back('}');
        out_.settle();
    }

    void put_settings(const run_config& chosen) {
        std::string& text = out_.text();
        text.push_back('{');
        for (const doc::member_rule& rule : doc::members_of(doc::object::settings)) {
            member(rule);
            switch (rule.id) {
            case doc::member::kinds: {
                text.push_back('[');
                bool first = true;
                for (std::size_t bit = 0; bit < stat_kind_names.size(); ++bit) {
                    if ((chosen.stat_kinds >> bit & 1u) != 0) {
                        text.append(first ? "" : ",");
                        append_json_string(text, stat_kind_names[bit]);
                        first = false;
                    }
                }
                text.push_back(']');
                break;
            }
            case doc::member::direction_split: put_bool(chosen.direction_split); break;
            case doc::member::port_limit:
                if (chosen.port_limit_enabled) {
                    out_.put_number(chosen.port_limit);
                } else {
                    text.append("null");
                }
                break;
            case doc::member::ipv6: put_bool(chosen.ipv6); break;
            case doc::member::look_through: put_bool(chosen.look_through); break;
            default: break;
            }
        }
        text.push_back('}');
    }

    void put_interval(const interval_mark& interval) {
        std::string& text = out_.text();
        text.push_back('{');
        for (const doc::member_rule& rule : doc::members_of(doc::object::interval)) {
            member(rule);
            append_json_string(text, rule.id == doc::member::interval_start ? interval.start
                                                                             : interval.end);
        }
        text.push_back('}');
    }

    void put_drops(const std::optional<drop_counts>& drops) {
        std::string& text = out_.text();
        if (!drops) {
            text.append("null");
            return;
        }
        text.push_back('{');
        for (const doc::member_rule& rule : doc::members_of(doc::object::drops)) {
            member(rule);
            switch (rule.id) {
            case doc::member::drops_total: out_.put_number(drops->total()); break;
            case doc::member::by_kernel: out_.put_number(drops->by_kernel); break;
            case doc::member::by_interface: out_.put_number(drops->by_interface); break;
            default: break;
            }
        }
        text.push_back('}');
    }

    void put_key(const labelled_row& row) {
        const row_key_field key = row_key(row, key_text_);
        switch (key.shape) {
        case row_key_field::form::none: out_.text().append("null"); break;
        case row_key_field::form::number: out_.put_number(key.number); break;
        case row_key_field::form::text: append_json_string(out_.text(), key.text); break;
        }
    }

    // "name":, with a comma before every member but its object's first.
    void member(const doc::member_rule& rule) {
        std::string& text = out_.text();
        if (text.back() != '{') {
            text.push_back(',');
        }
        text.push_back('"');
        text.append(rule.name);
        text.append("\":");
    }

    void put_bool(bool value) { out_.put(value ? "true" : "false"); }

    // The share as the text report shows it, four decimals: the same
    // figure in every format, and packets, bytes and totals give any other
    // precision a program wants. A total of no bytes has no shares.
    void put_share(std::uint64_t bytes) {
        if (total_bytes_ == 0) {
            out_.put("null");
            return;
        }
        append_share(out_.text(), row_percent(bytes, total_bytes_));
    }

    const run_config& config_;
    output_batch out_;
    std::uint64_t total_bytes_ = 0;
    std::string_view separator_ = ",\n";  // between tables, between rows
    std::string_view opening_ = "\n";      // before the first table, the first row
    bool first_table_ = true;
    bool first_row_ = true;
    std::array<char, 64> key_text_{};
};

}  // namespace

std::unique_ptr<report_writer> make_json_report(const run_config& config, std::FILE* out) {
    return std::make_unique<json_report>(config, out);
}

}  // namespace tallywire
