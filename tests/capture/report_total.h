#pragma once

// The Total row of a report: enough to tell that, and how many, frames
// were counted.

#include <cstdint>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

namespace twtest {

struct total_counts {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;

    bool operator==(const total_counts&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const total_counts& total) {
    return out << total.packets << " packets, " << total.bytes << " bytes";
}

// The counts of the Total row, which every report begins with; nothing when
// the text does not begin like a report.
inline std::optional<total_counts> total_row(const std::string& report) {
    const std::string start = "Total Statistics:\n\tTotal ";
    if (report.compare(0, start.size(), start) != 0) {
        return std::nullopt;
    }
    std::istringstream line(report.substr(start.size()));
    total_counts total;
    if (!(line >> total.packets >> total.bytes)) {
        return std::nullopt;
    }
    return total;
}

}  // namespace twtest
