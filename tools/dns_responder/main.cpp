// tallywire-dns-responder: a DNS server for tests and benchmarks that answers
// reverse (PTR) queries for IPv4 addresses from ptr_table.h, each after a set
// delay, without holding up the queries that arrive meanwhile. It listens on
// UDP only: its answers are short enough never to be truncated.
//
//   tallywire-dns-responder [-a ADDRESS] [-p PORT] [-d DELAY_MS] [-l LOG]
//
// Prints "ready" on standard output once it listens; runs until killed. With
// -l, appends the name of every query it receives to LOG, one a line.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dns_responder/ptr_table.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t header_size = 12;
constexpr std::uint16_t type_ptr = 12;
constexpr std::uint16_t class_in = 1;
constexpr std::uint16_t rcode_no_such_name = 3;
constexpr std::uint32_t answer_ttl = 60;

struct options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 53;
    int delay_ms = 0;
    std::string log_path;
};

std::optional<options> parse(int argc, char** argv) {
    options chosen;
    int letter;
    while ((letter = getopt(argc, argv, "a:p:d:l:")) != -1) {
        switch (letter) {
        case 'a': chosen.address = optarg; break;
        case 'p': chosen.port = static_cast<std::uint16_t>(std::atoi(optarg)); break;
        case 'd': chosen.delay_ms = std::max(0, std::atoi(optarg)); break;
        case 'l': chosen.log_path = optarg; break;
        default: return std::nullopt;
        }
    }
    return chosen;
}

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

struct question {
    std::vector<std::string> labels;
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
    std::size_t end = 0;  // offset past the question
};

// The first question of a query; nothing for a message that holds none or
// uses compression in it, which no resolver does in a question.
std::optional<question> read_question(std::span<const std::uint8_t> message) {
    if (message.size() < header_size || read16(message, 4) == 0) {
        return std::nullopt;
    }
    question found;
    std::size_t at = header_size;
    while (at < message.size() && message[at] != 0) {
        const std::size_t length = message[at];
        if (length > 63 || at + 1 + length > message.size()) {
            return std::nullopt;
        }
        found.labels.emplace_back(reinterpret_cast<const char*>(message.data() + at + 1), length);
        at += 1 + length;
    }
    if (at + 5 > message.size()) {
        return std::nullopt;
    }
    found.type = read16(message, at + 1);
    found.klass = read16(message, at + 3);
    found.end = at + 5;
    return found;
}

// The 32 nibbles of an IPv6 reverse name, "x.x. ... .ip6.arpa", lowest
// first: the address's last four bytes stand for it in the table (see
// ptr_table.h).
std::optional<std::uint32_t> reverse_ipv6_address(const std::vector<std::string>& labels) {
    if (labels.size() != 34 || strcasecmp(labels[32].c_str(), "ip6") != 0 ||
        strcasecmp(labels[33].c_str(), "arpa") != 0) {
        return std::nullopt;
    }
    std::uint32_t low_bytes = 0;
    for (int i = 7; i >= 0; --i) {
        const std::string& label = labels[static_cast<std::size_t>(i)];
        if (label.size() != 1 || std::isxdigit(static_cast<unsigned char>(label[0])) == 0) {
            return std::nullopt;
        }
        low_bytes = low_bytes << 4 | static_cast<std::uint32_t>(std::stoi(label, nullptr, 16));
    }
    return low_bytes;
}

// "4.3.2.1.in-addr.arpa" gives 1.2.3.4 in host order; an IPv6 name gives
// its last four bytes.
std::optional<std::uint32_t> reverse_address(const std::vector<std::string>& labels) {
    if (labels.size() == 34) {
        return reverse_ipv6_address(labels);
    }
    if (labels.size() != 6 || strcasecmp(labels[4].c_str(), "in-addr") != 0 ||
        strcasecmp(labels[5].c_str(), "arpa") != 0) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    for (int i = 3; i >= 0; --i) {
        const std::string& label = labels[static_cast<std::size_t>(i)];
        if (label.empty() || label.size() > 3 ||
            label.find_first_not_of("0123456789") != std::string::npos || std::stoi(label) > 255) {
            return std::nullopt;
        }
        address = address << 8 | static_cast<std::uint32_t>(std::stoi(label));
    }
    return address;
}

void put_name(std::vector<std::uint8_t>& out, const std::string& name) {
    std::size_t start = 0;
    while (start < name.size()) {
        const std::size_t dot = std::min(name.find('.', start), name.size());
        out.push_back(static_cast<std::uint8_t>(dot - start));
        out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(start),
                   name.begin() + static_cast<std::ptrdiff_t>(dot));
        start = dot + 1;
    }
    out.push_back(0);
}

// The reply to a query, or nothing when the table keeps silent about it or
// the query cannot be read.
std::optional<std::vector<std::uint8_t>> reply_to(std::span<const std::uint8_t> query,
                                                  std::FILE* log) {
    const std::optional<question> asked = read_question(query);
    if (!asked) {
        return std::nullopt;
    }
    if (log != nullptr) {
        std::string name;
        for (const std::string& label : asked->labels) {
            name += label + ".";
        }
        std::fprintf(log, "%s\n", name.c_str());
        std::fflush(log);
    }
    const std::optional<std::uint32_t> address = reverse_address(asked->labels);
    twdns::ptr_entry entry{twdns::ptr_reply::no_such_name, {}};
    if (address && asked->type == type_ptr && asked->klass == class_in) {
        entry = twdns::ptr_entry_for(*address);
    }
    if (entry.reply == twdns::ptr_reply::silence) {
        return std::nullopt;
    }
    const bool named = entry.reply == twdns::ptr_reply::name;
    std::vector<std::uint8_t> reply(query.begin(),
                                    query.begin() + static_cast<std::ptrdiff_t>(asked->end));
    // Response, same opcode, authoritative, recursion desired as asked,
    // recursion available.
    const std::uint16_t flags = read16(query, 2);
    const std::uint16_t reply_flags = static_cast<std::uint16_t>(
        0x8000 | (flags & 0x7800) | 0x0400 | (flags & 0x0100) | 0x0080 |
        (named ? 0 : rcode_no_such_name));
    reply[2] = static_cast<std::uint8_t>(reply_flags >> 8);
    reply[3] = static_cast<std::uint8_t>(reply_flags);
    const std::uint8_t counts[8] = {0, 1, 0, static_cast<std::uint8_t>(named ? 1 : 0), 0, 0, 0, 0};
    std::memcpy(reply.data() + 4, counts, sizeof counts);
    if (named) {
        put16(reply, 0xc000 | header_size);  // the question's name
        put16(reply, type_ptr);
        put16(reply, class_in);
        put16(reply, answer_ttl >> 16);
        put16(reply, answer_ttl & 0xffff);
        std::vector<std::uint8_t> data;
        put_name(data, entry.name);
        put16(reply, static_cast<std::uint32_t>(data.size()));
        reply.insert(reply.end(), data.begin(), data.end());
    }
    return reply;
}

struct pending_reply {
    clock_type::time_point due;
    sockaddr_in peer{};
    std::vector<std::uint8_t> bytes;
};

}  // namespace

int main(int argc, char** argv) {
    const std::optional<options> chosen = parse(argc, argv);
    if (!chosen) {
        std::fprintf(stderr, "usage: %s [-a ADDRESS] [-p PORT] [-d DELAY_MS] [-l LOG]\n", argv[0]);
        return 2;
    }
    std::FILE* log = nullptr;
    if (!chosen->log_path.empty() && (log = std::fopen(chosen->log_path.c_str(), "a")) == nullptr) {
        std::perror(chosen->log_path.c_str());
        return 1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(chosen->port);
    if (fd < 0 || inet_pton(AF_INET, chosen->address.c_str(), &local.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("tallywire-dns-responder: socket");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const auto delay = std::chrono::milliseconds(chosen->delay_ms);
    std::vector<pending_reply> pending;  // in order of arrival, so of due time
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        int timeout = -1;
        if (!pending.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending.front().due -
                                                                         clock_type::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, timeout) < 0 && errno != EINTR) {
            std::perror("tallywire-dns-responder: poll");
            return 1;
        }
        for (;;) {
            sockaddr_in peer{};
            socklen_t peer_size = sizeof peer;
            const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&peer), &peer_size);
            if (n < 0) {
                break;
            }
            auto reply = reply_to({buffer.data(), static_cast<std::size_t>(n)}, log);
            if (reply) {
                pending.push_back({clock_type::now() + delay, peer, std::move(*reply)});
            }
        }
        const auto now = clock_type::now();
        while (!pending.empty() && pending.front().due <= now) {
            const pending_reply& out = pending.front();
            sendto(fd, out.bytes.data(), out.bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&out.peer), sizeof out.peer);
            pending.erase(pending.begin());
        }
    }
}
