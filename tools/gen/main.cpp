// tallywire-gen: writes a capture file of generated traffic, frame by frame,
// and optionally the fact record that says what each frame holds.

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "gen/capture_writer.h"
#include "gen/gen_options.h"
#include "gen/traffic_mix.h"

namespace {

template <typename Writer>
void stream_mix(twgen::mix_generator& generator, Writer& writer, std::ofstream* facts) {
    twgen::frame frame;
    twgen::frame_fact fact;
    while (generator.next(frame, fact)) {
        writer.write(frame);
        if (facts != nullptr) {
            twgen::write_fact(*facts, fact);
        }
    }
    writer.finish();
}

void generate(const twgen::gen_options& options) {
    // Made first, so that options the mix refuses leave no files behind.
    twgen::mix_generator generator(options.mix);
    std::optional<std::ofstream> facts;
    if (!options.facts_path.empty()) {
        facts.emplace(options.facts_path, std::ios::trunc);
        if (!*facts) {
            throw std::runtime_error("cannot open " + options.facts_path);
        }
        twgen::write_fact_header(*facts);
    }
    std::ofstream* fact_stream = facts ? &*facts : nullptr;
    if (options.format == twgen::capture_format::snoop) {
        twgen::snoop_writer writer(options.output_path, options.mix.snap_length);
        stream_mix(generator, writer, fact_stream);
    } else {
        twgen::pcap_writer writer(options.output_path, options.mix.datalink,
                                  options.mix.snap_length);
        stream_mix(generator, writer, fact_stream);
    }
    if (facts) {
        facts->close();
        if (!*facts) {
            throw std::runtime_error("cannot write " + options.facts_path);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<twgen::gen_options> options = twgen::parse_gen_options(argc, argv);
    if (!options) {
        std::fputs("Try 'tallywire-gen -h' for help.\n", stderr);
        return 1;
    }
    if (options->help) {
        twgen::print_gen_usage(stdout);
        return 0;
    }
    try {
        generate(*options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tallywire-gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
