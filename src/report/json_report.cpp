#include <array>
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
        const run_config& chosen = config_;
        std::string& text = out_.text();
        text.push_back('{');
        member(doc::program);
        append_json_string(text, doc::program_name);
        next_member(doc::version);
        append_json_string(text, TALLYWIRE_VERSION);
        next_member(doc::format);
        out_.put_number(doc::format_number);
        next_member(doc::settings);
        text.push_back('{');
        member(doc::kinds);
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
        next_member(doc::direction_split);
        put_bool(chosen.direction_split);
        next_member(doc::port_limit);
        if (chosen.port_limit_enabled) {
            out_.put_number(chosen.port_limit);
        } else {
            text.append("null");
        }
        next_member(doc::ipv6);
        put_bool(chosen.ipv6);
        next_member(doc::look_through);
        put_bool(chosen.look_through);
        text.push_back('}');
        next_member(doc::complete);
        put_bool(summary.complete);
        next_member(doc::read_error);
        put_bool(summary.outcome.stopped_at_read_error);
        next_member(doc::drops);
        if (const auto& drops = summary.outcome.drops) {
            text.push_back('{');
            member(doc::drops_total);
            out_.put_number(drops->total());
            next_member(doc::by_kernel);
            out_.put_number(drops->by_kernel);
            next_member(doc::by_interface);
            out_.put_number(drops->by_interface);
            text.push_back('}');
        } else {
            text.append("null");
        }
        next_member(doc::totals);
        text.push_back('{');
        member(doc::packets);
        out_.put_number(summary.packets);
        next_member(doc::bytes);
        out_.put_number(summary.bytes);
        text.push_back('}');
        next_member(doc::tables);
        text.append("[\n");
    }

    void begin_table(std::uint32_t kind) override {
        std::string& text = out_.text();
        text.append(first_table_ ? "{" : ",\n{");
        first_table_ = false;
        member(doc::kind);
        append_json_string(text, stat_kind_name(kind));
        next_member(doc::rows);
        text.push_back('[');
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
        text.append(first_row_ ? "\n{" : ",\n{");
        first_row_ = false;
        member(doc::key);
        const row_key_field key = row_key(row, key_text_);
        switch (key.shape) {
        case row_key_field::form::none: text.append("null"); break;
        case row_key_field::form::number: out_.put_number(key.number); break;
        case row_key_field::form::text: append_json_string(text, key.text); break;
        }
        next_member(doc::label);
        append_json_string(text, row.name);
        if (!row.suffix.empty()) {
            next_member(doc::direction);
            append_json_string(text, doc::direction_names[row.direction() == 0 ? 0 : 1]);
        }
        next_member(doc::packets);
        out_.put_number(row.packets());
        next_member(doc::bytes);
        out_.put_number(row.bytes());
        next_member(doc::share);
        put_share(row.bytes());
        text.push_back('}');
        out_.settle();
    }

    // "name": and ,"name":
    void member(std::string_view name) {
        std::string& text = out_.text();
        text.push_back('"');
        text.append(name);
        text.append("\":");
    }
    void next_member(std::string_view name) {
        out_.text().push_back(',');
        member(name);
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
    bool first_table_ = true;
    bool first_row_ = true;
    std::array<char, 64> key_text_{};
};

}  // namespace

std::unique_ptr<report_writer> make_json_report(const run_config& config, std::FILE* out) {
    return std::make_unique<json_report>(config, out);
}

}  // namespace tallywire
