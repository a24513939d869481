#pragma once

#include <cstdint>

struct packet_record;

// The key value of one kind for one side of a packet; 0 when the packet has
// no key of that kind on that side.
std::uint32_t extract_key(std::uint32_t kind, const packet_record& packet, bool source_side);

// Counts the packet into every table under every non-zero key.
void account_packet(const packet_record& packet);

// The sink that the run hands to its source; it ignores sink_arg.
void accounting_sink(const packet_record* packet, void* sink_arg);
