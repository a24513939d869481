#include "report/report_formats.h"

namespace tallywire {

std::unique_ptr<report_writer> make_report_writer(const run_config& config, std::FILE* out) {
    switch (config.format) {
    case report_format::csv: return make_csv_report(out);
    case report_format::json: return make_json_report(config, out);
    case report_format::text: break;
    }
    return make_text_report(out);
}

}  // namespace tallywire
