#include "report/row_labels.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "capture/link_classes.h"
#include "settings.h"

namespace tallywire {

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

// Every link label, "link (protocol):", made once from the link classes'
// tables, so that link_label hands out constant texts.
class link_label_table {
public:
    link_label_table() {
        for (const link_class_entry& link : link_classes) {
            labels_[link.link_class].other = compose(link.name, link.other_name);
            for (const link_protocol& protocol : link.protocols) {
                labels_[link.link_class].by_network_class[protocol.network_class] =
                    compose(link.name, protocol.name);
            }
        }
    }

    const char* find(std::uint32_t link_class, std::uint32_t network_class) const {
        const auto link = labels_.find(link_class_entry_of(link_class).link_class);
        const auto found = link->second.by_network_class.find(network_class);
        return found != link->second.by_network_class.end() ? found->second.c_str()
                                                            : link->second.other.c_str();
    }

private:
    static std::string compose(std::string_view link, std::string_view protocol) {
        std::string label(link);
        label.append(" (").append(protocol).append("):");
        return label;
    }

    struct class_labels {
        std::map<std::uint32_t, std::string> by_network_class;
        std::string other;
    };
    std::map<std::uint32_t, class_labels> labels_;
};

}  // namespace

const char* link_label(std::uint32_t link_code) {
    static const link_label_table labels;
    return labels.find(link_code & 0xffu, (link_code >> 8) & 0xffu);
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

std::string_view direction_suffix(const report_row& row, bool direction_split) {
    return direction_suffix(row.key.direction, direction_split);
}

std::string_view direction_suffix(std::int8_t direction, bool direction_split) {
    if (!direction_split) {
        return "";
    }
    return direction == 0 ? "> " : "< ";
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

std::string_view ipv6_host_label(const std::array<std::uint8_t, 16>& address, bool no_resolve,
                                 std::size_t name_width, std::span<char> text) {
    const hostent* entry =
        no_resolve ? nullptr : gethostbyaddr(address.data(), address.size(), AF_INET6);
    return named_ipv6_host_label(address, entry != nullptr ? entry->h_name : nullptr, name_width,
                                 text);
}

std::string_view named_ipv6_host_label(const std::array<std::uint8_t, 16>& address,
                                       const char* name, std::size_t name_width,
                                       std::span<char> text) {
    if (name != nullptr) {
        return bounded_copy(text, std::string_view(name).substr(0, name_width));
    }
    std::array<char, INET6_ADDRSTRLEN> written{};
    if (inet_ntop(AF_INET6, address.data(), written.data(), written.size()) == nullptr) {
        return bounded_copy(text, "");
    }
    return bounded_copy(text, written.data());
}

std::string_view ipv6_network_label(const std::array<std::uint8_t, 16>& prefix,
                                    std::span<char> text) {
    std::array<char, INET6_ADDRSTRLEN + 3> written{};
    if (inet_ntop(AF_INET6, prefix.data(), written.data(), written.size()) == nullptr) {
        return bounded_copy(text, "");
    }
    return bounded_format(text, "%s/64", written.data());
}

std::string_view network_label(std::uint32_t network, std::span<char> text) {
    return dotted_address(inet_makeaddr(network, 0), text);
}

}  // namespace tallywire
