#include "report/name_service.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <new>
#include <vector>

namespace tallywire {
namespace {

// The calls write their answer into a buffer of the caller's and say ERANGE
// when it is too small; the buffer then doubles, as the C library does for
// its own single-threaded forms. A database entry that would need more than
// this counts as no entry.
constexpr std::size_t first_buffer_size = 1024;
constexpr std::size_t largest_buffer_size = std::size_t{16} << 20;

// call(buffer) returns the name found, or null, and whether the buffer was
// too small.
struct lookup_answer {
    const char* name = nullptr;
    bool buffer_too_small = false;
};

template <typename Call>
std::optional<std::string> with_growing_buffer(Call call) {
    try {
        std::vector<char> buffer(first_buffer_size);
        for (;;) {
            const lookup_answer answer = call(buffer);
            if (!answer.buffer_too_small) {
                return answer.name == nullptr ? std::nullopt
                                              : std::optional<std::string>(answer.name);
            }
            if (buffer.size() >= largest_buffer_size) {
                return std::nullopt;
            }
            buffer.resize(buffer.size() * 2);
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// The address's bytes, as gethostbyaddr takes them, of either family.
std::optional<std::string> name_of_address(const void* address, socklen_t size, int family) {
    return with_growing_buffer([address, size, family](std::vector<char>& buffer) {
        hostent entry{};
        hostent* found = nullptr;
        int host_error = 0;
        const int status = gethostbyaddr_r(address, size, family, &entry, buffer.data(),
                                           buffer.size(), &found, &host_error);
        // Only a buffer that is too small says NETDB_INTERNAL with ERANGE; the
        // resolver has other reasons to return ERANGE.
        if (status == ERANGE && host_error == NETDB_INTERNAL) {
            return lookup_answer{nullptr, true};
        }
        return lookup_answer{status == 0 && found != nullptr ? found->h_name : nullptr, false};
    });
}

}  // namespace

std::optional<std::string> host_name_of(std::uint32_t address) {
    return name_of_address(&address, sizeof address, AF_INET);
}

std::optional<std::string> host_name_of(const std::array<std::uint8_t, 16>& ipv6_address) {
    return name_of_address(ipv6_address.data(), ipv6_address.size(), AF_INET6);
}

std::optional<std::string> service_name_of(std::uint16_t port) {
    return with_growing_buffer([port](std::vector<char>& buffer) {
        servent entry{};
        servent* found = nullptr;
        const int status = getservbyport_r(htons(port), nullptr, &entry, buffer.data(),
                                           buffer.size(), &found);
        if (status == ERANGE) {
            return lookup_answer{nullptr, true};
        }
        return lookup_answer{status == 0 && found != nullptr ? found->s_name : nullptr, false};
    });
}

std::optional<std::string> protocol_name_of(std::uint16_t protocol) {
    return with_growing_buffer([protocol](std::vector<char>& buffer) {
        protoent entry{};
        protoent* found = nullptr;
        const int status =
            getprotobynumber_r(protocol, &entry, buffer.data(), buffer.size(), &found);
        if (status == ERANGE) {
            return lookup_answer{nullptr, true};
        }
        return lookup_answer{status == 0 && found != nullptr ? found->p_name : nullptr, false};
    });
}

}  // namespace tallywire
