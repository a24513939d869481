#pragma once

// The names of the JSON report's members and the number of its format,
// shared by the writer and the merge that reads documents back.
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
//    {"key":80,"label":"http (80)","packets":2,"bytes":120,"share":100.0000}]}]}
// "settings" comes before "tables", so that a reader can set up its tables
// before the first row arrives. "direction" ("source" or "destination")
// stands in rows of Port, Host and Network under -d only. "drops" is null
// unless a live capture ended with libpcap's statistics:
// {"total":N,"by_kernel":N,"by_interface":N}.

#include <string_view>

namespace tallywire::json_document {

inline constexpr unsigned format_number = 1;
inline constexpr std::string_view program_name = "tallywire";

inline constexpr std::string_view program = "program";
inline constexpr std::string_view version = "version";
inline constexpr std::string_view format = "format";
inline constexpr std::string_view settings = "settings";
inline constexpr std::string_view kinds = "kinds";
inline constexpr std::string_view direction_split = "direction_split";
inline constexpr std::string_view port_limit = "port_limit";
inline constexpr std::string_view ipv6 = "ipv6";
inline constexpr std::string_view look_through = "look_through";
inline constexpr std::string_view complete = "complete";
inline constexpr std::string_view read_error = "read_error";
inline constexpr std::string_view drops = "drops";
inline constexpr std::string_view drops_total = "total";
inline constexpr std::string_view by_kernel = "by_kernel";
inline constexpr std::string_view by_interface = "by_interface";
inline constexpr std::string_view totals = "totals";
inline constexpr std::string_view tables = "tables";
inline constexpr std::string_view kind = "kind";
inline constexpr std::string_view rows = "rows";
inline constexpr std::string_view key = "key";
inline constexpr std::string_view label = "label";
inline constexpr std::string_view direction = "direction";
inline constexpr std::string_view packets = "packets";
inline constexpr std::string_view bytes = "bytes";
inline constexpr std::string_view share = "share";

// The values of "direction", by table_key direction.
inline constexpr std::string_view direction_names[] = {"source", "destination"};

}  // namespace tallywire::json_document
