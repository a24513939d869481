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

#include <arpa/inet.h>

#include "address_pool.h"
#include "frame_builder.h"
#include "traffic_mix.h"

namespace twgen {
namespace {

// Columns are only ever added at the end, so that a line cut after the
// 14th field still reads as it always did.
constexpr std::array<std::string_view, 29> columns = {
    "datalink",    "kind",     "link_word",    "ip_version",      "protocol",
    "src",         "dst",      "has_ports",    "src_port",        "dst_port",
    "header_words", "fragment_offset", "wire_length", "captured_length",
    "layers", "net_offset", "net_word", "net_version", "net_src", "net_dst", "extensions",
    "upper_protocol", "net_fragment_offset", "transport_offset", "net_has_ports",
    "net_src_port", "net_dst_port", "seconds", "microseconds"};

// An empty list or address is written as "-", so that no field is empty.
constexpr std::string_view none = "-";

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string layers_text(const std::vector<layer_fact>& layers) {
    std::string out;
    for (const layer_fact& l : layers) {
        out += out.empty() ? "" : ",";
        out += l.name + ":" + hex(l.value) + ":" + std::to_string(l.size);
    }
    return out.empty() ? std::string(none) : out;
}

std::string extensions_text(const std::vector<extension_fact>& extensions) {
    std::string out;
    for (const extension_fact& e : extensions) {
        out += out.empty() ? "" : ",";
        out += std::to_string(e.type) + ":" + std::to_string(e.size);
    }
    return out.empty() ? std::string(none) : out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

std::string header_line() {
    std::string line;
    for (std::string_view column : columns) {
        line += line.empty() ? "" : "\t";
        line += column;
    }
    return line;
}

std::vector<std::string_view> split_tabs(std::string_view line) { return split(line, '\t'); }

template <typename Number>
bool parse_number(std::string_view text, Number largest, int base, Number& out) {
    if (base == 16) {
        if (!text.starts_with("0x")) {
            return false;
        }
        text.remove_prefix(2);
    }
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        value > static_cast<unsigned long long>(largest)) {
        return false;
    }
    out = static_cast<Number>(value);
    return true;
}

// Reads one field of a fact line; every failure names the line and column.
class field_reader {
public:
    field_reader(const std::string& path, std::size_t line_number,
                 const std::vector<std::string_view>& fields)
        : path_(path), line_number_(line_number), fields_(fields) {}

    template <typename Number>
    Number number(std::size_t column, Number largest, int base = 10) const {
        Number value{};
        if (!parse_number(fields_[column], largest, base, value)) {
            fail(column);
        }
        return value;
    }

    std::vector<layer_fact> layers(std::size_t column) const {
        std::vector<layer_fact> out;
        if (fields_[column] == none) {
            return out;
        }
        for (const std::string_view item : split(fields_[column], ',')) {
            const auto parts = split(item, ':');
            layer_fact l;
            if (parts.size() != 3 || parts[0].empty() ||
                !parse_number(parts[1], UINT32_MAX, 16, l.value) ||
                !parse_number(parts[2], UINT32_MAX, 10, l.size)) {
                fail(column);
            }
            l.name = std::string(parts[0]);
            out.push_back(std::move(l));
        }
        return out;
    }

    std::vector<extension_fact> extensions(std::size_t column) const {
        std::vector<extension_fact> out;
        if (fields_[column] == none) {
            return out;
        }
        for (const std::string_view item : split(fields_[column], ',')) {
            const auto parts = split(item, ':');
            extension_fact e;
            if (parts.size() != 2 || !parse_number(parts[0], std::uint8_t{255}, 10, e.type) ||
                !parse_number(parts[1], UINT32_MAX, 10, e.size)) {
                fail(column);
            }
            out.push_back(e);
        }
        return out;
    }

    // IPv4 or IPv6 text, or "-" for none.
    std::string any_address(std::size_t column) const {
        const std::string text(fields_[column]);
        if (text == none) {
            return {};
        }
        unsigned char parsed[16];
        if (inet_pton(AF_INET, text.c_str(), parsed) != 1 &&
            inet_pton(AF_INET6, text.c_str(), parsed) != 1) {
            fail(column);
        }
        return text;
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
    fact.datalink = in.number<int>(0, 65535);
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
    fact.layers = in.layers(14);
    fact.net_offset = in.number<std::uint32_t>(15, UINT32_MAX);
    fact.net_word = in.number<std::uint32_t>(16, UINT32_MAX, 16);
    fact.net_version = in.number<int>(17, 6);
    if (fact.net_version != 0 && fact.net_version != 4 && fact.net_version != 6) {
        in.fail(17);
    }
    fact.net_src = in.any_address(18);
    fact.net_dst = in.any_address(19);
    fact.extensions = in.extensions(20);
    fact.upper_protocol = in.number<std::uint8_t>(21, 255);
    fact.net_fragment_offset = in.number<std::uint16_t>(22, 0x1fff);
    fact.transport_offset = in.number<std::uint32_t>(23, UINT32_MAX);
    fact.net_has_ports = in.number<int>(24, 1) == 1;
    fact.net_src_port = in.number<std::uint16_t>(25, 65535);
    fact.net_dst_port = in.number<std::uint16_t>(26, 65535);
    fact.seconds = in.number<std::int64_t>(27, INT64_MAX);
    fact.microseconds = in.number<std::uint32_t>(28, 999999);
    return fact;
}

}  // namespace

void write_fact_header(std::ostream& out) {
    out << header_line() << '\n';
}

void write_fact(std::ostream& out, const frame_fact& fact) {
    out << fact.datalink << '\t' << fact.kind << '\t' << hex(fact.link_word) << '\t'
        << fact.ip_version << '\t' << unsigned{fact.protocol} << '\t' << ipv4_text(fact.src)
        << '\t' << ipv4_text(fact.dst) << '\t' << (fact.has_ports ? 1 : 0) << '\t'
        << fact.src_port << '\t' << fact.dst_port << '\t' << unsigned{fact.header_words} << '\t'
        << fact.fragment_offset << '\t' << fact.wire_length << '\t' << fact.captured_length;
    out << '\t' << layers_text(fact.layers) << '\t' << fact.net_offset << '\t'
        << hex(fact.net_word) << '\t' << fact.net_version << '\t'
        << (fact.net_src.empty() ? none : fact.net_src) << '\t'
        << (fact.net_dst.empty() ? none : fact.net_dst) << '\t'
        << extensions_text(fact.extensions) << '\t' << unsigned{fact.upper_protocol} << '\t'
        << fact.net_fragment_offset << '\t' << fact.transport_offset << '\t'
        << (fact.net_has_ports ? 1 : 0) << '\t' << fact.net_src_port << '\t'
        << fact.net_dst_port << '\t' << fact.seconds << '\t' << fact.microseconds << '\n';
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
