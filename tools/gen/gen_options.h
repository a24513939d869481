#pragma once

// The command line of tallywire-gen.

#include <cstdio>
#include <optional>
#include <string>

#include "traffic_mix.h"

namespace twgen {

enum class capture_format { pcap, snoop };

struct gen_options {
    mix_options mix;
    capture_format format = capture_format::pcap;
    std::string output_path;
    std::string facts_path;  // empty: no fact record
    bool help = false;
};

// Reads the arguments; on a fault writes the reason to standard error and
// returns nothing.
std::optional<gen_options> parse_gen_options(int argc, char** argv);

void print_gen_usage(std::FILE* out);

}  // namespace twgen
