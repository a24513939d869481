#include "report/row_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <charconv>
#include <cstring>
#include <system_error>
#include <vector>

#include "report/labelled_rows.h"
#include "settings.h"

namespace tallywire {

namespace {

// The label is cut where a 1024-byte buffer with its terminating zero would
// cut it, whatever a name service returns.
constexpr std::size_t label_capacity = 1023;
constexpr std::size_t count_width = 10;
constexpr std::size_t percent_width = 5;

// Longest texts of the other fields: a 64-bit count has 20 digits; a double
// in fixed notation with four decimals at most 309 + 1 + 4 and a sign.
constexpr std::size_t count_room = 20;
constexpr std::size_t percent_room = 320;
constexpr std::size_t line_room = 1 + label_capacity + 2 * (count_room + 1) + percent_room + 3;

// A report line is assembled by hand rather than through printf: a report
// can hold millions of lines, and the result is the same text as
// "\t%-*s%-9llu %-9llu %-5.4f %%\n" gives. That is the classic
// "%-10llu%-10llu" wherever a count has fewer than ten digits; a count of
// ten or more, which would fill its column and run into the next field,
// keeps one blank after it, so that a line always splits into its fields
// on blanks. It is built straight into the caller's buffer, which has room
// for line_room bytes.
class line_builder {
public:
    // used: how much of the line is already laid out.
    explicit line_builder(char* line, std::size_t used = 0) : line_(line), used_(used) {}

    void put(std::string_view text, std::size_t limit = line_room) {
        const std::size_t length = std::min({text.size(), limit, line_room - used_});
        std::copy_n(text.data(), length, line_ + used_);
        used_ += length;
    }

    // Fills with blanks so that the field begun at start is width wide.
    void pad(std::size_t start, std::size_t width) {
        while (used_ - start < width && used_ < line_room) {
            line_[used_++] = ' ';
        }
    }

    // As pad, for a count: one that fills its column or more still gets
    // one blank after it.
    void pad_count(std::size_t start) {
        pad(start, count_width - 1);
        put(" ");
    }

    template <typename Number, typename... Format>
    void put_number(Number number, std::size_t room, Format... format) {
        char* const at = line_ + used_;
        room = std::min(room, line_room - used_);
        const auto [end, failure] = std::to_chars(at, at + room, number, format...);
        if (failure == std::errc{}) {
            used_ += static_cast<std::size_t>(end - at);
        }
    }

    // The share with four decimals, as "%.4f" rounds it: the exact binary
    // value, halves to even. Every share of a real report takes the integer
    // path; anything else (negative, huge, not a number) goes to to_chars.
    void put_percent(double percent) {
        std::uint64_t scaled;
        if (used_ + percent_fast_room <= line_room && scale_percent(percent, scaled)) {
            put_scaled_percent(scaled);
            return;
        }
        put_number(percent, percent_room, std::chars_format::fixed, 4);
    }

    // A share that scale_percent gave, with room for percent_fast_room.
    void put_scaled_percent(std::uint64_t scaled) {
        const std::uint64_t units = scaled / 10000;
        auto fraction = static_cast<unsigned>(scaled % 10000);
        put_number(units, count_room);
        char* const at = line_ + used_;
        at[0] = '.';
        for (int digit = 4; digit > 0; --digit) {
            at[digit] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        used_ += 5;
    }

    std::size_t size() const { return used_; }

    // percent times 10,000, rounded as printf rounds, for a percent from 0
    // up to 2^32; false outside that range.
    static bool scale_percent(double percent, std::uint64_t& scaled) {
        const auto bits = std::bit_cast<std::uint64_t>(percent);
        const auto exponent = static_cast<int>((bits >> 52) & 0x7ff);
        if ((bits >> 63) != 0 || exponent == 0x7ff || exponent >= 1023 + 32) {
            return false;
        }
        if (exponent == 0) {  // zero or subnormal: far below half a unit
            scaled = 0;
            return true;
        }
        // percent is mantissa * 2^-shift exactly, and percent * 10,000 is
        // mantissa * 625 * 2^-(shift - 4); mantissa * 625 fits 63 bits.
        const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) |
                                       (std::uint64_t{1} << 52);
        const int shift = 1075 - exponent - 4;  // at least 17 here
        const std::uint64_t product = mantissa * 625;
        if (shift >= 64) {  // product < 2^63 <= half a unit
            scaled = 0;
            return true;
        }
        const std::uint64_t unit = std::uint64_t{1} << shift;
        const std::uint64_t rest = product & (unit - 1);
        const std::uint64_t half = unit >> 1;
        scaled = product >> shift;
        if (rest > half || (rest == half && (scaled & 1) != 0)) {
            ++scaled;
        }
        return true;
    }

private:
    // Room the integer path needs: a 2^32 share has ten digits.
    static constexpr std::size_t percent_fast_room = 16;

    char* line_;
    std::size_t used_ = 0;
};

// Where the fields of a line start when none overflows its column.
constexpr std::size_t packets_column = 1 + label_column_width;
constexpr std::size_t bytes_column = packets_column + count_width;
constexpr std::size_t percent_column = bytes_column + count_width;
// The widest count that leaves a blank in its column.
constexpr std::uint64_t widest_in_column = 999'999'999;

// Lays out one report line at line; returns its length.
std::size_t build_row(char* line, std::string_view name, std::string_view suffix,
                      std::uint64_t packets, std::uint64_t bytes, double percent) {
    // Nearly every line has its label within the column and counts of at
    // most nine digits: then each field starts at a fixed place in a line of
    // blanks, and a share of at least "0.0000" needs no padding.
    std::uint64_t scaled;
    if (name.size() + 1 + suffix.size() <= label_column_width && packets <= widest_in_column &&
        bytes <= widest_in_column && line_builder::scale_percent(percent, scaled)) {
        std::memset(line, ' ', percent_column);
        line[0] = '\t';
        std::copy_n(name.data(), name.size(), line + 1);
        std::copy_n(suffix.data(), suffix.size(), line + 2 + name.size());
        std::to_chars(line + packets_column, line + bytes_column, packets);
        std::to_chars(line + bytes_column, line + percent_column, bytes);
        line_builder row(line, percent_column);
        row.put_scaled_percent(scaled);
        row.put(" %\n");
        return row.size();
    }
    line_builder row(line);
    row.put("\t");
    const std::size_t label_start = row.size();
    row.put(name, label_capacity);
    row.put(" ", label_capacity - (row.size() - label_start));
    row.put(suffix, label_capacity - (row.size() - label_start));
    row.pad(label_start, label_column_width);

    const std::size_t packets_start = row.size();
    row.put_number(packets, count_room);
    row.pad_count(packets_start);
    const std::size_t bytes_start = row.size();
    row.put_number(bytes, count_room);
    row.pad_count(bytes_start);
    const std::size_t percent_start = row.size();
    row.put_percent(percent);
    row.pad(percent_start, percent_width);
    row.put(" %\n");
    return row.size();
}

}  // namespace

double row_percent(std::uint64_t bytes, std::uint64_t total_bytes) {
    return static_cast<double>(bytes) * 100.0 / static_cast<double>(total_bytes);
}

text_lines::text_lines(std::FILE* out, std::uint64_t total_bytes)
    : out_(out), total_bytes_(total_bytes), buffer_(std::size_t{1} << 16) {}

text_lines::~text_lines() { flush(); }

void text_lines::take(const labelled_row& row) {
    put(row.name, row.suffix, row.packets(), row.bytes(), row_percent(row.bytes(), total_bytes_));
}

void text_lines::put(std::string_view name, std::string_view suffix, std::uint64_t packets,
                     std::uint64_t bytes, double percent) {
    if (buffer_.size() - used_ < line_room) {
        flush();
    }
    used_ += build_row(buffer_.data() + used_, name, suffix, packets, bytes, percent);
}

void text_lines::flush() {
    std::fwrite(buffer_.data(), 1, used_, out_);
    used_ = 0;
}

void append_share(std::string& out, double percent) {
    std::array<char, line_room> text;
    line_builder share(text.data());
    share.put_percent(percent);
    out.append(text.data(), share.size());
}

}  // namespace tallywire
