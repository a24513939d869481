#pragma once

// What the test resolver answers for the reverse name of an IPv4 address (and
// of an IPv6 address, by its last four bytes read as one): a
// host name for most, "no such name" for some, nothing at all for a few. A
// rule rather than a list, so that tests and benchmarks work out the
// expected labels of any set of addresses from the same table the resolver
// serves.

#include <cstdint>
#include <string>

namespace twdns {

enum class ptr_reply { name, no_such_name, silence };

struct ptr_entry {
    ptr_reply reply = ptr_reply::name;
    std::string name;  // for ptr_reply::name
};

// Whether the resolver keeps silent, answers "no such name" or gives a name,
// by the address's last byte: silent for 63, 127, 191 and 255, no such name
// for every fifth, a name otherwise.
inline ptr_reply reply_for(std::uint32_t address) {
    const std::uint32_t last = address & 0xffu;
    if (last % 64 == 63) {
        return ptr_reply::silence;
    }
    if (last % 5 == 4) {
        return ptr_reply::no_such_name;
    }
    return ptr_reply::name;
}

// address: host order (192.0.2.10 is 0xc000020a). Names run from 12 to 35
// characters, so that every cut a report makes (24, and 22 under -d) meets
// some names shorter than it, some as long and some longer.
inline ptr_entry ptr_entry_for(std::uint32_t address) {
    const ptr_reply reply = reply_for(address);
    if (reply != ptr_reply::name) {
        return {reply, {}};
    }
    const std::uint32_t last = address & 0xffu;
    const std::uint32_t third = (address >> 8) & 0xffu;
    const std::size_t length = 12 + (last * 7 + third) % 24;
    std::string name = "h" + std::to_string(last) + "-" + std::to_string(third);
    const std::string domain = ".example";
    if (name.size() + domain.size() + 1 < length) {
        name.push_back('-');
        while (name.size() + domain.size() < length) {
            name.push_back(static_cast<char>('a' + name.size() % 26));
        }
    }
    return {reply, name + domain};
}

}  // namespace twdns
