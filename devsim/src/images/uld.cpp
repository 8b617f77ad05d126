#include "uld.h"

#include "words.h"

namespace devsim::images {

void uld_builder_t::section(uint32_t tag, std::span<const uint32_t> data)
{
    words_.push_back(tag);
    words_.push_back(static_cast<uint32_t>(data.size()));
    words_.insert(words_.end(), data.begin(), data.end());
}

uint32_t uld_builder_t::end_block()
{
    words_.push_back(0xFFFFFFFFu);
    uint32_t sum = 0;
    for (size_t i = block_start_; i < words_.size(); ++i)
        sum += words_[i];
    uint32_t checksum = 0u - sum;
    if (checksum == 0xFFFFFFFFu) {
        // Only data words sit before the closing word; the one before it is
        // the last data word of the last section.
        ++words_[words_.size() - 2];
        --checksum;
    }
    words_.push_back(checksum);
    block_start_ = words_.size();
    return checksum;
}

void uld_builder_t::end_image()
{
    words_.push_back(0xFFFFFFFFu);
    words_.push_back(0xFFFFFFFFu);
    block_start_ = words_.size();
}

std::vector<uint8_t> uld_builder_t::bytes() const
{
    std::vector<uint8_t> out(words_.size() * 4);
    for (size_t i = 0; i < words_.size(); ++i)
        put_le(out, i * 4, words_[i], 4);
    return out;
}

std::vector<uint32_t> to_words(std::span<const uint8_t> bytes)
{
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = le_word(bytes, i * 4, 4);
    return words;
}

std::vector<uld_section_t> uld_sections(std::span<const uint32_t> words)
{
    std::vector<uld_section_t> sections;
    size_t block = 0, i = 0;
    while (i < words.size()) {
        uint32_t w = words[i];
        if (w == 0xFFFFFFFFu) {
            // End of sections: a checksum word closes the block, a second
            // 0xFFFFFFFF the image.
            if (i + 1 >= words.size() || words[i + 1] == 0xFFFFFFFFu)
                break;
            i += 2;
            ++block;
            continue;
        }
        if (i + 1 >= words.size())
            break;
        uint32_t length = words[i + 1];
        if (length >= 0xFFFF || i + 2 + length > words.size())
            break;
        sections.push_back({w, i + 2, length, block});
        i += 2 + length;
    }
    return sections;
}

} // namespace devsim::images
