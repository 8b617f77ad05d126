// Word sums over byte regions: the checksums the firmware images and the
// devices' flash areas carry. A region is valid when its little-endian words,
// the stored checksum word (its last word) included, sum to zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace devsim::images {

uint32_t le_word(std::span<const uint8_t> bytes, size_t at, int width);
void put_le(std::span<uint8_t> bytes, size_t at, uint32_t value, int width);

// Sum of the whole words of width 3 (mod 2^24) or 4 (mod 2^32) in
// [start, start + length); words that do not fit inside `bytes` are left out.
uint32_t region_sum(std::span<const uint8_t> bytes, size_t start, size_t length, int width);
// Valid when the region lies inside `bytes`, is whole words and sums to zero.
bool region_valid(std::span<const uint8_t> bytes, size_t start, size_t length, int width);
// Rewrites the region's last word so that the region sums to zero; returns it.
uint32_t fix_region(std::span<uint8_t> bytes, size_t start, size_t length, int width);
// When the region sums to zero, changes the low byte of its last word so
// that it no longer does.
void spoil_region(std::span<uint8_t> bytes, size_t start, size_t length, int width);

// The walk over a segmented (uld) image from byte `start`: 32-bit words,
// sections of tag, length and data, blocks closed by 0xFFFFFFFF and a
// checksum word, the image by 0xFFFFFFFF 0xFFFFFFFF.
struct uld_check_t {
    bool valid = false;       // end marker reached, some block seen, all blocks sum to zero
    uint32_t value = 0;       // the sum of the block checksum words
    size_t end = 0;           // byte offset behind the end marker (valid images)
    size_t monitor_bytes = 0; // bytes from start through the first block's checksum word
};
uld_check_t uld_check(std::span<const uint8_t> bytes, size_t start = 0);

} // namespace devsim::images
