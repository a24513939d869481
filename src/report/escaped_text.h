#pragma once

// Texts from the system's databases written into machine-readable reports.
// A name can hold any bytes; both formats stay valid whatever it holds.

#include <string>
#include <string_view>

namespace tallywire {

// The text as a JSON string, quotes included. Quote, backslash and control
// characters are escaped, and each byte that does not belong to well-formed
// UTF-8 becomes U+FFFD, since a JSON text must be UTF-8.
void append_json_string(std::string& out, std::string_view text);

// The text as one RFC 4180 field: quoted, with quotes doubled, when it holds
// a comma, a quote, CR or LF. Bytes outside well-formed UTF-8 and control
// characters other than CR and LF, which the RFC's field grammar has no
// room for, become U+FFFD.
void append_csv_field(std::string& out, std::string_view text);

}  // namespace tallywire
