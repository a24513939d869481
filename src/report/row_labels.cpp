#include "report/row_labels.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "program_state.h"

namespace {

// Service and protocol names share one buffer; callers copy the text out
// before the next lookup.
std::array<char, 4096> name_buffer{};

// snprintf's own bound keeps every write inside the buffer; its result is the
// length it wanted, so the view is clamped to what was really written.
template <typename... Args>
std::string_view bounded_format(std::span<char> text, const char* format, Args... args) {
    if (text.empty()) {
        return {};
    }
    const int wanted = std::snprintf(text.data(), text.size(), format, args...);
    if (wanted < 0) {
        text[0] = '\0';
        return {};
    }
    const std::size_t written = std::min(static_cast<std::size_t>(wanted), text.size() - 1);
    return {text.data(), written};
}

// Copies as much of source as fits, with a terminating zero.
std::string_view bounded_copy(std::span<char> text, std::string_view source) {
    if (text.empty()) {
        return {};
    }
    const std::size_t length = std::min(source.size(), text.size() - 1);
    std::copy_n(source.data(), length, text.data());
    text[length] = '\0';
    return {text.data(), length};
}

// "0." to "255.", so that an address takes four fixed four-byte copies
// rather than four number conversions.
struct octet_text {
    std::array<char, 4> digits;  // the digits, then a dot
    std::size_t size;            // digits only
};

constexpr std::array<octet_text, 256> octet_texts = [] {
    std::array<octet_text, 256> texts{};
    for (unsigned value = 0; value < 256; ++value) {
        octet_text& text = texts[value];
        if (value >= 100) {
            text.digits[text.size++] = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            text.digits[text.size++] = static_cast<char>('0' + value / 10 % 10);
        }
        text.digits[text.size++] = static_cast<char>('0' + value % 10);
        text.digits[text.size] = '.';
    }
    return texts;
}();

// The dotted-decimal form that inet_ntoa gives, written straight into the
// caller's buffer: a report of a million hosts formats a million of them.
// Every copy has a fixed size, so none of them is a call.
std::string_view dotted_address(in_addr address, std::span<char> text) {
    std::array<char, 16> dotted{};  // "255.255.255.255" and its zero
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const octet_text& octet = octet_texts[bytes[i]];
        std::memcpy(dotted.data() + length, octet.digits.data(), octet.digits.size());
        length += octet.size + 1;
    }
    --length;  // the dot after the last octet
    dotted[length] = '\0';
    if (text.size() < dotted.size()) {
        return bounded_copy(text, {dotted.data(), length});
    }
    std::memcpy(text.data(), dotted.data(), dotted.size());
    return {text.data(), length};
}

const char* ethernet_label(std::uint32_t network_class) {
    switch (network_class) {
    case 1: return "Ethernet (IP):";
    case 2: return "Ethernet (IPv6):";
    case 3: return "Ethernet (arp):";
    case 4: return "Ethernet (revarp):";
    case 5: return "Ethernet (IPX):";
    case 6: return "Ethernet (AppleTalk):";
    case 7: return "Ethernet (AppleTalk ARP):";
    default: return "Ethernet (other):";
    }
}

const char* ppp_label(std::uint32_t network_class) {
    switch (network_class) {
    case 1: return "PPP (IP):";
    case 2: return "PPP (IPv6):";
    case 3: return "PPP (IPCP):";
    case 4: return "PPP (IPCP6):";
    case 5: return "PPP (CCP):";
    case 6: return "PPP (LCP):";
    case 7: return "PPP (PAP):";
    case 8: return "PPP (CHAP):";
    default: return "PPP (other):";
    }
}

const char* null_link_label(std::uint32_t network_class) {
    switch (network_class) {
    case 1: return "No Link (IP):";
    case 2: return "No Link (IPv6):";
    default: return "No Link (non-IP):";
    }
}

}  // namespace

const char* link_label(std::uint32_t link_code) {
    const std::uint32_t link_class = link_code & 0xffu;
    const std::uint32_t network_class = (link_code >> 8) & 0xffu;
    switch (link_class) {
    case 1: return null_link_label(network_class);
    case 2: return ethernet_label(network_class);
    case 4: return ppp_label(network_class);
    // The misspelling is what scripts that read these reports match on.
    default: return "UNKNWON (non-IP):";
    }
}

const char* protocol_label(std::uint16_t protocol, bool no_resolve) {
    const protoent* entry = no_resolve ? nullptr : getprotobynumber(protocol);
    return named_protocol_label(protocol, entry != nullptr ? entry->p_name : nullptr);
}

const char* named_protocol_label(std::uint16_t protocol, const char* name) {
    if (name != nullptr) {
        bounded_format(name_buffer, "%s", name);
    } else {
        bounded_format(name_buffer, "%u", static_cast<unsigned>(protocol));
    }
    return name_buffer.data();
}

const char* service_label(std::uint16_t port, bool no_resolve) {
    // No protocol name: the row does not say whether the port was TCP or UDP.
    const servent* entry = no_resolve ? nullptr : getservbyport(htons(port), nullptr);
    return named_service_label(port, entry != nullptr ? entry->s_name : nullptr);
}

const char* named_service_label(std::uint16_t port, const char* name) {
    if (name != nullptr) {
        bounded_format(name_buffer, "%s (%u)", name, static_cast<unsigned>(port));
    } else {
        bounded_format(name_buffer, "%u", static_cast<unsigned>(port));
    }
    return name_buffer.data();
}

std::string_view direction_suffix(const report_row& row) {
    if (!current_settings.direction_split) {
        return "";
    }
    return row.key.direction == 0 ? "> " : "< ";
}

std::string_view host_label(std::uint32_t address, bool no_resolve, std::size_t name_width,
                            std::span<char> text) {
    // The value holds the address bytes as they stood in the packet.
    const hostent* entry = no_resolve ? nullptr : gethostbyaddr(&address, sizeof address, AF_INET);
    return named_host_label(address, entry != nullptr ? entry->h_name : nullptr, name_width, text);
}

std::string_view named_host_label(std::uint32_t address, const char* name, std::size_t name_width,
                                  std::span<char> text) {
    if (name != nullptr) {
        return bounded_copy(text, std::string_view(name).substr(0, name_width));
    }
    in_addr dotted{};
    dotted.s_addr = address;
    return dotted_address(dotted, text);
}

std::string_view network_label(std::uint32_t network, std::span<char> text) {
    return dotted_address(inet_makeaddr(network, 0), text);
}
