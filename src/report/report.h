#pragma once

#include <cstdint>
#include <vector>

#include "stats/stat_tables.h"

// Walks, sorts, limits and prints every table on standard output.
void print_report();

// Replaces rows with every entry of the table, in key order; returns the count.
int collect_rows(stat_table& table, std::vector<report_row>& rows);

// Largest byte count first; only bytes are compared.
int compare_rows(const report_row& a, const report_row& b);
