#include "report/row_labels.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdio>

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
    if (entry != nullptr && entry->p_name != nullptr) {
        bounded_format(name_buffer, "%s", entry->p_name);
    } else {
        bounded_format(name_buffer, "%u", static_cast<unsigned>(protocol));
    }
    return name_buffer.data();
}

const char* service_label(std::uint16_t port, bool no_resolve) {
    // No protocol name: the row does not say whether the port was TCP or UDP.
    const servent* entry = no_resolve ? nullptr : getservbyport(htons(port), nullptr);
    if (entry != nullptr && entry->s_name != nullptr) {
        bounded_format(name_buffer, "%s (%u)", entry->s_name, static_cast<unsigned>(port));
    } else {
        bounded_format(name_buffer, "%u", static_cast<unsigned>(port));
    }
    return name_buffer.data();
}

const char* direction_suffix(const report_row& row) {
    if (!current_settings.direction_split) {
        return "";
    }
    return row.key.direction == 0 ? "> " : "< ";
}

std::string_view host_label(std::uint32_t address, bool no_resolve, std::size_t name_width,
                            std::span<char> text) {
    if (!no_resolve) {
        // The value holds the address bytes as they stood in the packet.
        const hostent* entry = gethostbyaddr(&address, sizeof address, AF_INET);
        if (entry != nullptr && entry->h_name != nullptr) {
            return bounded_format(text, "%.*s", static_cast<int>(name_width), entry->h_name);
        }
    }
    in_addr dotted{};
    dotted.s_addr = address;
    return bounded_format(text, "%s", inet_ntoa(dotted));
}

std::string_view network_label(std::uint32_t network, std::span<char> text) {
    return bounded_format(text, "%s", inet_ntoa(inet_makeaddr(network, 0)));
}
