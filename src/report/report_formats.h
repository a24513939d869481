#pragma once

// The writers of each report format (see report_writer.h).

#include <cstdio>
#include <memory>

#include "report/report_writer.h"

namespace tallywire {

// The writer of the format asked for.
std::unique_ptr<report_writer> make_report_writer(report_format format, std::FILE* out);

std::unique_ptr<report_writer> make_text_report(std::FILE* out);
std::unique_ptr<report_writer> make_csv_report(std::FILE* out);
std::unique_ptr<report_writer> make_json_report(std::FILE* out);

}  // namespace tallywire
