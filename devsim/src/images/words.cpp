#include "words.h"

namespace devsim::images {
namespace {

uint32_t mask(int width) { return width == 3 ? 0xFFFFFFu : 0xFFFFFFFFu; }

} // namespace

uint32_t le_word(std::span<const uint8_t> bytes, size_t at, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | bytes[at + i];
    return value;
}

void put_le(std::span<uint8_t> bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t region_sum(std::span<const uint8_t> bytes, size_t start, size_t length, int width)
{
    uint32_t sum = 0;
    size_t end = start + length;
    if (end > bytes.size())
        end = bytes.size();
    for (size_t at = start; at + width <= end; at += width)
        sum += le_word(bytes, at, width);
    return sum & mask(width);
}

bool region_valid(std::span<const uint8_t> bytes, size_t start, size_t length, int width)
{
    if (length == 0 || length % width != 0 || start + length > bytes.size())
        return false;
    return region_sum(bytes, start, length, width) == 0;
}

uint32_t fix_region(std::span<uint8_t> bytes, size_t start, size_t length, int width)
{
    size_t last = start + length - width;
    uint32_t rest = region_sum(bytes, start, length - width, width);
    uint32_t value = (0u - rest) & mask(width);
    put_le(bytes, last, value, width);
    return value;
}

void spoil_region(std::span<uint8_t> bytes, size_t start, size_t length, int width)
{
    // Adding 1 to the low byte of the last word (0xFF wraps to a change of
    // -255) never changes the sum by a multiple of the modulus.
    if (region_sum(bytes, start, length, width) == 0)
        ++bytes[start + length - width];
}

uld_check_t uld_check(std::span<const uint8_t> bytes, size_t start)
{
    enum { expect_tag, after_sections, expect_length, in_section } state = expect_tag;
    uld_check_t result;
    uint32_t sum = 0, left = 0;
    bool checksum_seen = false;
    for (size_t at = start; at + 4 <= bytes.size(); at += 4) {
        uint32_t w = le_word(bytes, at, 4);
        sum += w;
        switch (state) {
        case expect_tag:
            state = w == 0xFFFFFFFFu ? after_sections : expect_length;
            break;
        case expect_length:
            left = w;
            state = in_section;
            if (left == 0)
                state = expect_tag;
            break;
        case in_section:
            if (--left == 0)
                state = expect_tag;
            break;
        case after_sections:
            if (w == 0xFFFFFFFFu) {
                result.valid = checksum_seen && sum + 2 == 0;
                result.end = at + 4 - start;
                return result;
            }
            result.value += w;
            if (!checksum_seen)
                result.monitor_bytes = at + 4 - start;
            checksum_seen = true;
            state = expect_tag;
            break;
        }
    }
    return result; // ran out of words: not an image
}

} // namespace devsim::images
