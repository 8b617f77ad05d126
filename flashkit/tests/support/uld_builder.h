// Test support: DSP images in the block format built word by word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx::test {

using words_t = std::vector<uint32_t>;

struct section_spec {
    uint32_t tag;
    words_t data;
};

// A block: its sections, the end-of-sections word and the checksum word that
// makes the block sum to zero (plus `checksum_error`).
inline void add_block(words_t& out, const std::vector<section_spec>& sections, uint32_t checksum_error = 0)
{
    uint32_t sum = 0;
    auto put = [&](uint32_t w) {
        out.push_back(w);
        sum += w;
    };
    for (const section_spec& s : sections) {
        put(s.tag);
        put(static_cast<uint32_t>(s.data.size()));
        for (uint32_t w : s.data)
            put(w);
    }
    put(0xFFFFFFFF);
    out.push_back(0 - sum + checksum_error);
}

inline void add_end(words_t& out)
{
    out.push_back(0xFFFFFFFF);
    out.push_back(0xFFFFFFFF);
}

inline std::vector<unsigned char> to_bytes(const words_t& words)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(words.size() * 4);
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<unsigned char>(w >> (8 * i)));
    return bytes;
}

inline words_t from_bytes(const std::vector<unsigned char>& bytes)
{
    words_t words(bytes.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 | uint32_t(bytes[4 * i + 2]) << 16 |
            uint32_t(bytes[4 * i + 3]) << 24;
    return words;
}

} // namespace vx::test
