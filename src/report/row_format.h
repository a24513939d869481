#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "stats/stat_tables.h"

// Prints the first count rows of one kind, in array order.
void print_rows(std::uint32_t kind, std::uint32_t count, std::span<const report_row> rows,
                std::uint64_t total_bytes);

// One report line: tab, label of at least 25 columns, packets, bytes, percent.
void print_row(std::string_view name, std::string_view suffix, std::uint64_t packets,
               std::uint64_t bytes, double percent);

const char* link_label(std::uint32_t link_code);
const char* protocol_label(std::uint16_t protocol, bool no_resolve);
const char* service_label(std::uint16_t port, bool no_resolve);
const char* direction_suffix(const report_row& row);
