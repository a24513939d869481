#pragma once

// Random numbers that a seed fixes on every platform. The engine's output
// is defined by the standard, but the std:: distributions are not, so the
// mix draws through these instead.

#include <cstdint>
#include <random>

namespace twgen {

class random_source {
public:
    explicit random_source(std::uint64_t seed) : engine_(seed) {}

    // Uniform in [0, bound), bound > 0. Draws below 2^64 mod bound are
    // thrown back, so that every residue is equally likely.
    std::uint64_t below(std::uint64_t bound) {
        const std::uint64_t skip = (0 - bound) % bound;
        for (;;) {
            const std::uint64_t draw = engine_();
            if (draw >= skip) {
                return draw % bound;
            }
        }
    }

    // Uniform in [low, high], low <= high.
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        if (high - low == UINT64_MAX) {
            return engine_();
        }
        return low + below(high - low + 1);
    }

    // Uniform in [0, 1), from the top 53 bits of one draw.
    double unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

    bool coin() { return (engine_() >> 63) != 0; }

private:
    std::mt19937_64 engine_;
};

}  // namespace twgen
