// The generator's deterministic random fill: equal seeds give equal images.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string_view>

namespace devsim::images {

class rng_t {
public:
    explicit rng_t(uint32_t seed) : engine_(seed) {}
    uint32_t word() { return static_cast<uint32_t>(engine_()); }
    void fill(std::span<uint8_t> bytes)
    {
        for (size_t i = 0; i < bytes.size(); i += 4) {
            uint32_t w = word();
            for (size_t k = 0; k < 4 && i + k < bytes.size(); ++k)
                bytes[i + k] = static_cast<uint8_t>(w >> (8 * k));
        }
    }

private:
    std::mt19937 engine_;
};

// FNV-1a of a text: the default seed of an image from its name.
inline uint32_t seed_of(std::string_view text)
{
    uint32_t h = 2166136261u;
    for (char c : text)
        h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    return h;
}

} // namespace devsim::images
