// The fact record of a mix: plain tab-separated text, so that a person can
// read it and a test can compute expected counts without this code's help
// beyond read_facts.

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "frame_builder.h"
#include "traffic_mix.h"

namespace twgen {
namespace {

constexpr std::array<std::string_view, 14> columns = {
    "datalink",    "kind",     "link_word",    "ip_version",      "protocol",
    "src",         "dst",      "has_ports",    "src_port",        "dst_port",
    "header_words", "fragment_offset", "wire_length", "captured_length"};

std::string dotted(std::uint32_t address) {
    const auto b = ipv4_bytes(address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

std::string header_line() {
    std::string line;
    for (std::string_view column : columns) {
        line += line.empty() ? "" : "\t";
        line += column;
    }
    return line;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

// Reads one field of a fact line; every failure names the line and column.
class field_reader {
public:
    field_reader(const std::string& path, std::size_t line_number,
                 const std::vector<std::string_view>& fields)
        : path_(path), line_number_(line_number), fields_(fields) {}

    template <typename Number>
    Number number(std::size_t column, Number largest, int base = 10) const {
        std::string_view text = fields_[column];
        if (base == 16) {
            if (!text.starts_with("0x")) {
                fail(column);
            }
            text.remove_prefix(2);
        }
        unsigned long long value = 0;
        const auto [end, error] =
            std::from_chars(text.data(), text.data() + text.size(), value, base);
        if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
            value > static_cast<unsigned long long>(largest)) {
            fail(column);
        }
        return static_cast<Number>(value);
    }

    std::uint32_t address(std::size_t column) const {
        const std::string text(fields_[column]);
        try {
            return ipv4_address(text.c_str());
        } catch (const std::invalid_argument&) {
            fail(column);
        }
    }

    [[noreturn]] void fail(std::size_t column) const {
        throw std::runtime_error(path_ + ":" + std::to_string(line_number_) + ": bad " +
                                 std::string(columns[column]) + " \"" +
                                 std::string(fields_[column]) + "\"");
    }

private:
    const std::string& path_;
    std::size_t line_number_;
    const std::vector<std::string_view>& fields_;
};

frame_fact parse_fact(const field_reader& in) {
    frame_fact fact;
    fact.datalink = in.number<int>(0, 255);
    fact.link_word = in.number<std::uint32_t>(2, UINT32_MAX, 16);
    fact.ip_version = in.number<int>(3, 6);
    if (fact.ip_version != 0 && fact.ip_version != 4 && fact.ip_version != 6) {
        in.fail(3);
    }
    fact.protocol = in.number<std::uint8_t>(4, 255);
    fact.src = in.address(5);
    fact.dst = in.address(6);
    fact.has_ports = in.number<int>(7, 1) == 1;
    fact.src_port = in.number<std::uint16_t>(8, 65535);
    fact.dst_port = in.number<std::uint16_t>(9, 65535);
    fact.header_words = in.number<std::uint8_t>(10, 15);
    fact.fragment_offset = in.number<std::uint16_t>(11, 0x1fff);
    fact.wire_length = in.number<std::uint32_t>(12, UINT32_MAX);
    fact.captured_length = in.number<std::uint32_t>(13, UINT32_MAX);
    return fact;
}

}  // namespace

void write_fact_header(std::ostream& out) {
    out << header_line() << '\n';
}

void write_fact(std::ostream& out, const frame_fact& fact) {
    char link_word[16];
    std::snprintf(link_word, sizeof link_word, "0x%04x", fact.link_word);
    out << fact.datalink << '\t' << fact.kind << '\t' << link_word << '\t' << fact.ip_version
        << '\t' << unsigned{fact.protocol} << '\t' << dotted(fact.src) << '\t' << dotted(fact.dst)
        << '\t' << (fact.has_ports ? 1 : 0) << '\t' << fact.src_port << '\t' << fact.dst_port
        << '\t' << unsigned{fact.header_words} << '\t' << fact.fragment_offset << '\t'
        << fact.wire_length << '\t' << fact.captured_length << '\n';
}

std::vector<frame_fact> read_facts(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::string line;
    if (!std::getline(in, line) || line != header_line()) {
        throw std::runtime_error(path + ":1: not a fact record (header line missing)");
    }
    std::vector<frame_fact> facts;
    for (std::size_t line_number = 2; std::getline(in, line); ++line_number) {
        const auto fields = split_tabs(line);
        if (fields.size() != columns.size()) {
            throw std::runtime_error(path + ":" + std::to_string(line_number) + ": " +
                                     std::to_string(fields.size()) + " fields, expected " +
                                     std::to_string(columns.size()));
        }
        const field_reader reader(path, line_number, fields);
        frame_fact fact = parse_fact(reader);
        fact.kind = std::string(fields[1]);
        facts.push_back(std::move(fact));
    }
    return facts;
}

}  // namespace twgen
