// Building and reading segmented (uld) images: blocks of tagged sections,
// each block closed by 0xFFFFFFFF and the word that makes it sum to zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace devsim::images {

// Tag word: memory space in bits 24-27 (1, 2 or 4), sub-kind in bits 20-23
// (0, 1 or 2), start word address in bits 0-15.
constexpr uint32_t uld_tag(uint32_t space, uint32_t sub_kind, uint32_t address)
{
    return space << 24 | sub_kind << 20 | (address & 0xFFFF);
}

class uld_builder_t {
public:
    void section(uint32_t tag, std::span<const uint32_t> data);
    // Closes the block; its checksum word is never 0xFFFFFFFF (the last data
    // word is nudged when it would be). Returns the checksum.
    uint32_t end_block();
    void end_image();

    std::vector<uint32_t>& words() { return words_; }
    std::vector<uint8_t> bytes() const;

private:
    std::vector<uint32_t> words_;
    size_t block_start_ = 0;
};

struct uld_section_t {
    uint32_t tag = 0;
    size_t data = 0; // word index of the first data word
    uint32_t length = 0;
    size_t block = 0;
};
// The sections of the image's blocks up to the end marker; stops quietly at
// the first malformed word.
std::vector<uld_section_t> uld_sections(std::span<const uint32_t> words);
std::vector<uint32_t> to_words(std::span<const uint8_t> bytes);

} // namespace devsim::images
