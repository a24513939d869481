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

// RFC 4180: a header line, then one line per row of every table, each
// ended by CRLF. Fields a row has no value for are empty: the key of Total,
// the direction unless sides are counted apart, the share of a total of
// no bytes, the name where the resolver gave none. The columns are the
// JSON rows' members, after their table's kind, in the same order.
class csv_report final : public report_writer, private row_consumer {
public:
    explicit csv_report(std::FILE* out) : out_(out) {}

    void begin(const report_summary& summary) override {
        total_bytes_ = summary.bytes;
        interval_.clear();
        if (summary.interval) {
            // The interval's bounds lead every line; the header is the run's.
            interval_ = summary.interval->start + "," + summary.interval->end + ",";
            if (!summary.interval->first) {
                return;
            }
            out_.put(json_document::name_of(json_document::member::interval_start));
            out_.put(',');
            out_.put(json_document::name_of(json_document::member::interval_end));
            out_.put(',');
        }
        out_.put(json_document::name_of(json_document::member::kind));
        for (const json_document::member_rule& rule :
             json_document::members_of(json_document::object::row)) {
            out_.put(',');
            out_.put(rule.name);
        }
        out_.put("\r\n");
    }

    void begin_table(std::uint32_t kind) override { kind_name_ = stat_kind_name(kind); }
    row_consumer& rows() override { return *this; }
    void end_table() override {}
    void end() override { out_.flush(); }

private:
    void take(const labelled_row& row) override {
        std::string& line = out_.text();
        line.append(interval_);
        line.append(kind_name_);
        for (const json_document::member_rule& rule :
             json_document::members_of(json_document::object::row)) {
            line.push_back(',');
            switch (rule.id) {
            case json_document::member::key: {
                const row_key_field key = row_key(row, key_text_);
                if (key.shape == row_key_field::form::number) {
                    out_.put_number(key.number);
                } else {
                    append_csv_field(line, key.text);
                }
                break;
            }
            case json_document::member::label: append_csv_field(line, row.name); break;
            case json_document::member::direction:
                if (!row.suffix.empty()) {
                    line.append(json_document::direction_names[row.direction() == 0 ? 0 : 1]);
                }
                break;
            case json_document::member::packets: out_.put_number(row.packets()); break;
            case json_document::member::bytes: out_.put_number(row.bytes()); break;
            case json_document::member::share:
                if (total_bytes_ != 0) {
                    append_share(line, row_percent(row.bytes(), total_bytes_));
                }
                break;
            case json_document::member::name:
                if (row.resolved != nullptr) {
                    append_csv_field(line, row.resolved);
                }
                break;
            default: break;
            }
        }
        line.append("\r\n");
        out_.settle();
    }

    output_batch out_;
    std::uint64_t total_bytes_ = 0;
    std::string_view kind_name_;
    std::string interval_;  // "start,end," under --interval
    std::array<char, 64> key_text_{};
};

}  // namespace

std::unique_ptr<report_writer> make_csv_report(std::FILE* out) {
    return std::make_unique<csv_report>(out);
}

}  // namespace tallywire
