#include <optional>

#include "report/report_writer.h"
#include "report/row_format.h"
#include "report/report_formats.h"
#include "stats/stat_kinds.h"

namespace tallywire {

namespace {

// The report for people: a heading per kind, then its lines.
class text_report final : public report_writer {
public:
    explicit text_report(std::FILE* out) : out_(out) {}

    void begin(const report_summary& summary) override {
        total_bytes_ = summary.bytes;
        if (summary.interval) {
            std::fprintf(out_, "Interval %s/%s:%s\n", summary.interval->start.c_str(),
                         summary.interval->end.c_str(),
                         summary.interval->partial ? " (partial)" : "");
        }
    }

    void begin_table(std::uint32_t kind) override {
        const std::string_view name = stat_kind_name(kind);
        std::fprintf(out_, "%.*s Statistics:\n", static_cast<int>(name.size()), name.data());
        lines_.emplace(out_, total_bytes_);
    }

    row_consumer& rows() override { return *lines_; }

    void end_table() override { lines_.reset(); }

    void end() override {}

private:
    std::FILE* out_;
    std::uint64_t total_bytes_ = 0;
    std::optional<text_lines> lines_;
};

}  // namespace

std::unique_ptr<report_writer> make_text_report(std::FILE* out) {
    return std::make_unique<text_report>(out);
}

}  // namespace tallywire
