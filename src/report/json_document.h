#pragma once

// The JSON report's schema, shared by the writer and the merge that reads
// documents back: which members stand in which object, in the order they
// are written, which of them a document cannot be added up without, what
// shape each kind's key takes, and the values of "direction".
//
// A document, one per run:
//   {"program":"tallywire","version":"0.1.0","format":1,
//    "settings":{"kinds":["Total","Port"],"direction_split":false,
//                "port_limit":null,"ipv6":false,"look_through":false},
//    "complete":true,"read_error":false,"drops":null,
//    "totals":{"packets":2,"bytes":120},
//    "tables":[
//    {"kind":"Total","rows":[
//    {"key":null,"label":"Total","packets":2,"bytes":120,"share":100.0000}]},
//    {"kind":"Port","rows":[
//    {"key":80,"label":"http (80)","packets":2,"bytes":120,"share":100.0000,
//     "name":"http"}]}]}
// Under --interval a run writes one document per interval, one per line
// (JSON Lines), with three members more after "format":
//   "interval":{"start":"2026-12-10T09:14:00Z","end":"2026-12-10T09:15:00Z"},
//   "partial":false,"late":0,
// "partial" true when the run stopped within the interval, "late" the
// frames counted in it that came after it had been held open. A whole
// run's document has none of the three.
// "settings" comes before "tables", so that a reader can set up its tables
// before the first row arrives. "name" is the whole name the resolver gave
// for a Host, Port or IP row (a label may be cut to its column), or null.
// "direction" stands in rows of Port, Host and Network under -d only. "drops" is null unless a live capture ended
// with libpcap's statistics.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <string_view>

#include "stats/stat_kinds.h"

namespace tallywire::json_document {

inline constexpr unsigned format_number = 1;
inline constexpr std::string_view program_name = "tallywire";

// The objects of a document; tables and rows stand in arrays.
enum class object : std::uint8_t {
    document,
    interval,
    settings,
    drops,
    totals,
    table,
    row,
    none
};

// Every member, by the object it stands in: "packets" and "bytes" stand
// both in "totals" and in rows.
enum class member : std::uint8_t {
    program,
    version,
    format,
    interval,
    partial,
    late,
    settings,
    complete,
    read_error,
    drops,
    totals,
    tables,
    interval_start,
    interval_end,
    kinds,
    direction_split,
    port_limit,
    ipv6,
    look_through,
    drops_total,
    by_kernel,
    by_interface,
    totals_packets,
    totals_bytes,
    kind,
    rows,
    key,
    label,
    direction,
    packets,
    bytes,
    share,
    name,
};

struct member_rule {
    member id;
    object in;
    std::string_view name;
    // The object the value is, or whose array it is.
    object holds;
    // A document without it cannot be added up.
    bool needed;
};

// Grouped by object, each object's members in the order they are written.
inline constexpr member_rule members[] = {
    {member::program, object::document, "program", object::none, true},
    {member::version, object::document, "version", object::none, false},
    {member::format, object::document, "format", object::none, true},
    {member::interval, object::document, "interval", object::interval, false},
    {member::partial, object::document, "partial", object::none, false},
    {member::late, object::document, "late", object::none, false},
    {member::settings, object::document, "settings", object::settings, true},
    {member::complete, object::document, "complete", object::none, true},
    {member::read_error, object::document, "read_error", object::none, false},
    {member::drops, object::document, "drops", object::drops, false},
    {member::totals, object::document, "totals", object::totals, false},
    {member::tables, object::document, "tables", object::table, true},
    {member::interval_start, object::interval, "start", object::none, true},
    {member::interval_end, object::interval, "end", object::none, true},
    {member::kinds, object::settings, "kinds", object::none, true},
    {member::direction_split, object::settings, "direction_split", object::none, true},
    {member::port_limit, object::settings, "port_limit", object::none, true},
    {member::ipv6, object::settings, "ipv6", object::none, true},
    {member::look_through, object::settings, "look_through", object::none, true},
    {member::drops_total, object::drops, "total", object::none, false},
    {member::by_kernel, object::drops, "by_kernel", object::none, false},
    {member::by_interface, object::drops, "by_interface", object::none, false},
    {member::totals_packets, object::totals, "packets", object::none, false},
    {member::totals_bytes, object::totals, "bytes", object::none, false},
    {member::kind, object::table, "kind", object::none, true},
    {member::rows, object::table, "rows", object::row, true},
    {member::key, object::row, "key", object::none, true},
    {member::label, object::row, "label", object::none, false},
    {member::direction, object::row, "direction", object::none, false},
    {member::packets, object::row, "packets", object::none, true},
    {member::bytes, object::row, "bytes", object::none, true},
    {member::share, object::row, "share", object::none, false},
    {member::name, object::row, "name", object::none, false},
};

// The rule of a member: the table lists them in the enum's order.
constexpr const member_rule& rule_of(member id) { return members[static_cast<std::size_t>(id)]; }
constexpr std::string_view name_of(member id) { return rule_of(id).name; }

// The members of an object, in the order they are written.
constexpr std::span<const member_rule> members_of(object in) {
    const auto first = std::find_if(std::begin(members), std::end(members),
                                    [in](const member_rule& rule) { return rule.in == in; });
    const auto end = std::find_if(first, std::end(members),
                                  [in](const member_rule& rule) { return rule.in != in; });
    return {first, end};
}

// A set of members, one bit each.
using member_set = std::uint64_t;
constexpr member_set bit_of(member id) { return member_set{1} << static_cast<unsigned>(id); }

// The members of an object a document cannot be added up without.
constexpr member_set needed_in(object in) {
    member_set needed = 0;
    for (const member_rule& rule : members_of(in)) {
        needed |= rule.needed ? bit_of(rule.id) : 0;
    }
    return needed;
}

static_assert(std::size(members) <= 64, "a set of members is one 64-bit word");
static_assert([] {
    for (std::size_t at = 0; at < std::size(members); ++at) {
        if (static_cast<std::size_t>(members[at].id) != at ||
            (at != 0 && members[at].in < members[at - 1].in)) {
            return false;
        }
    }
    return true;
}(), "the members stand in the enum's order, grouped by object");
// The writer streams the rows: the arrays that hold them come last.
static_assert(members_of(object::document).back().id == member::tables);
static_assert(members_of(object::table).back().id == member::rows);

// The shape of a row's key, by kind: Total's is null, Link's, IP's and
// Port's a number, Host's and Network's a text (see row_keys.h).
enum class key_shape : std::uint8_t { null, number, text };
inline constexpr std::array<key_shape, stat_kind_names.size()> key_shapes = {
    key_shape::null,   key_shape::number, key_shape::number,
    key_shape::number, key_shape::text,   key_shape::text};
// The shape for a kind given as its single bit.
constexpr key_shape key_shape_of(std::uint32_t kind) {
    return key_shapes[static_cast<std::size_t>(std::countr_zero(kind)) % key_shapes.size()];
}

// The values of "direction", by table_key direction.
inline constexpr std::string_view direction_names[] = {"source", "destination"};

}  // namespace tallywire::json_document
