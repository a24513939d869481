#pragma once

// The writers of each report format (see report_writer.h).

#include <cstdio>
#include <memory>

#include "report/report_writer.h"

namespace tallywire {

// The writer of the format the config asks for.
std::unique_ptr<report_writer> make_report_writer(const run_config& config, std::FILE* out);

std::unique_ptr<report_writer> make_text_report(std::FILE* out);
std::unique_ptr<report_writer> make_csv_report(std::FILE* out);
// The JSON document states the config's counting settings; config must
// outlive the writer.
std::unique_ptr<report_writer> make_json_report(const run_config& config, std::FILE* out);

}  // namespace tallywire
