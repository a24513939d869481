#include "report/row_format.h"

#include <algorithm>
#include <array>
#include <cinttypes>

#include "program_state.h"
#include "report/row_labels.h"

namespace {

// Room for the longest name the databases may return, cut where it ends.
constexpr std::size_t formatted_label_size = 1024;
constexpr std::size_t label_text_size = 256;

int text_length(std::string_view text) {
    return static_cast<int>(std::min<std::size_t>(text.size(), formatted_label_size));
}

}  // namespace

double row_percent(std::uint64_t bytes, std::uint64_t total_bytes) {
    return static_cast<double>(bytes) * 100.0 / static_cast<double>(total_bytes);
}

void print_row(std::string_view name, std::string_view suffix, std::uint64_t packets,
               std::uint64_t bytes, double percent, std::FILE* out) {
    std::array<char, formatted_label_size> label{};
    std::snprintf(label.data(), label.size(), "%.*s %.*s", text_length(name), name.data(),
                  text_length(suffix), suffix.data());
    std::fprintf(out, "\t%-*s%-10" PRIu64 "%-10" PRIu64 "%-5.4f %%\n", label_column_width,
                 label.data(), packets, bytes, percent);
}

void print_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::uint64_t total_bytes, std::FILE* out) {
    const bool no_resolve = current_settings.no_resolve;
    const std::size_t host_width =
        current_settings.direction_split ? host_name_width_split : host_name_width;
    std::array<char, label_text_size> text{};
    for (const report_row& row : rows.first(std::min<std::size_t>(count, rows.size()))) {
        const std::uint32_t value = row.key.value;
        std::string_view name;
        std::string_view suffix;
        switch (kind) {
        case stat_total: name = "Total"; break;
        case stat_link: name = link_label(value - 1); break;
        case stat_ip: name = protocol_label(static_cast<std::uint16_t>(value - 1), no_resolve); break;
        case stat_port:
            name = service_label(static_cast<std::uint16_t>(value), no_resolve);
            suffix = direction_suffix(row);
            break;
        case stat_host:
            name = host_label(value, no_resolve, host_width, text);
            suffix = direction_suffix(row);
            break;
        case stat_network:
            name = network_label(value, text);
            suffix = direction_suffix(row);
            break;
        default: return;  // not a kind the tables hold
        }
        print_row(name, suffix, row.packets, row.bytes, row_percent(row.bytes, total_bytes), out);
    }
}
