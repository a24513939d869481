#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stats/page_region.h"
#include "stats/table_records.h"

namespace tallywire {

// The entries of a table under keys wider than 32 bits: IPv6 hosts and /64
// networks. Kept apart from the counting table's sparse part, so that the IPv4
// keys keep their compact 64-bit ordered keys and their count log.
//
// Each direction has its own open-addressing table of 32-byte slots (the
// key's two words and its counters, two slots to a cache line), probed
// linearly; the all-zero key marks an empty slot, so its own entry is kept
// aside. A slot with a direction byte would take 40 bytes, and a lookup
// would often touch two cache lines instead of one. The per-frame
// accounting prefetches a packet's slots before it counts its other tables.
class wide_store {
public:
    wide_store() = default;
    wide_store(const wide_store&) = delete;
    wide_store& operator=(const wide_store&) = delete;

    // Adds one packet of length bytes under key: 0, or -1 with errno set
    // when a new entry finds no memory.
    int count(const wide_key& key, std::uint32_t length) noexcept;
    // The same under the key's words and direction (0 or 1).
    int count(key16 key, int direction, std::uint32_t length) noexcept {
        table_counters* counters = counters_of(key, direction);
        if (counters == nullptr) [[unlikely]] {
            return -1;
        }
        counters->bytes += length;
        ++counters->packets;
        return 0;
    }

    // The counters under key, made (all zero) when the key is new; null
    // with errno set when a new entry finds no memory.
    table_counters* counters_of(key16 key, int direction) noexcept {
        return sides_[direction != 0].counters_of(key);
    }

    // Starts loading the slot where a lookup of key begins. Always inlined:
    // to the compiler a function whose only effect is a prefetch has no
    // effect at all, and drops the call.
    [[gnu::always_inline]] void prefetch(key16 key, int direction) const noexcept {
        sides_[direction != 0].prefetch(key);
    }

    std::size_t size() const { return sides_[0].size() + sides_[1].size(); }

    // Every entry as a row, in key order; the store is left empty.
    std::vector<wide_row> take_rows();

    // Where a key's lookup begins in a table of 2^(64 - shift) slots: the
    // top bits of a product, which every bit of the key reaches. Addresses
    // of one network differ only in their last bytes, networks only in the
    // top bytes of their first word; the shift in between brings the first
    // word's differences down to where the second multiply spreads them.
    static std::size_t home(key16 key, unsigned shift) {
        std::uint64_t mixed = key.first * 0x9e3779b97f4a7c15u;
        mixed = ((mixed ^ mixed >> 32) ^ key.second) * 0xd6e8feb86659fd93u;
        return static_cast<std::size_t>(mixed >> shift);
    }

private:
    struct slot {
        key16 key;
        table_counters counters;
    };

    // The entries of one direction.
    class side {
    public:
        side() = default;
        side(const side&) = delete;
        side& operator=(const side&) = delete;

        table_counters* counters_of(key16 key) noexcept {
            if ((key.first | key.second) == 0) [[unlikely]] {
                return zero_entry();
            }
            for (std::size_t at = home(key, shift_);; at = (at + 1) & mask_) {
                slot& here = slots_[at];
                if (here.key == key) {
                    return &here.counters;
                }
                if ((here.key.first | here.key.second) == 0) {
                    return insert(at, key);
                }
            }
        }

        [[gnu::always_inline]] void prefetch(key16 key) const noexcept {
            __builtin_prefetch(&slots_[home(key, shift_)], 1);
        }

        std::size_t size() const { return held_ + (zero_held_ ? 1 : 0); }

        // Appends every entry as a row of direction and empties the side.
        void take_rows(std::vector<wide_row>& rows, int direction);

    private:
        table_counters* zero_entry() noexcept {
            zero_held_ = true;
            return &zero_counters_;
        }
        // Makes the entry of a new key in the empty slot at, or wherever the
        // key lands after the table grows.
        table_counters* insert(std::size_t at, key16 key) noexcept;
        bool grow() noexcept;

        // An empty table probes the two slots below, which never take an
        // entry: the first insert grows the table first.
        static inline slot no_slots[2]{};

        slot* slots_ = no_slots;
        std::size_t mask_ = 1;
        unsigned shift_ = 63;
        std::size_t held_ = 0;
        page_array<slot> pages_;
        table_counters zero_counters_;
        bool zero_held_ = false;
    };

    side sides_[2];
};

}  // namespace tallywire
