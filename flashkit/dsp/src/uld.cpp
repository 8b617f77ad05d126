#include "flashkit/uld.h"

#include <qm/exception.h>
#include <qm/file.h>

#include <bit>
#include <memory>
#include <new>

namespace qm::uld {
namespace {

constexpr uint32_t max_length = 0xFFFF;

bool valid_tag(uint32_t tag)
{
    const uint32_t space = (tag & space_mask) >> 24;
    const uint32_t kind = (tag & kind_mask) >> 20;
    return (space == 0x1 || space == 0x2 || space == 0x4) && kind <= 0x2;
}

uint32_t from_little_endian(uint32_t w)
{
    if constexpr (std::endian::native == std::endian::big)
        return __builtin_bswap32(w);
    return w;
}

} // namespace

image_t::image_t(const std::string& path)
{
    file_t file;
    file.open(path, "rb");
    const int64_t size = file.size();
    if (size < 0 || size % 4 != 0)
        throw exception_t("file size must be a multiple of 4");
    try {
        words.resize(static_cast<std::size_t>(size / 4));
    } catch (const std::bad_alloc&) {
        throw exception_t("memory allocation fails at buf_t");
    }
    if (std::fread(words.data(), 4, words.size(), file.get()) != words.size()) {
        vx_set_last_error_from_errno();
        throw wapi::exception_t("error reading file");
    }
    for (uint32_t& w : words)
        w = from_little_endian(w);
    parse();
    file.close();
}

void image_t::parse()
{
    std::size_t i = 0;
    while (i < words.size()) {
        std::unique_ptr<uld_t> block(parse_block(i));
        if (block->word_count == 0)
            throw exception_t("invalid uld format, size isn't a positive number");
        if (block->word_count == 2 && block->sections.empty())
            break; // the end marker
        i += block->word_count;
        blocks.push_back(block.release());
    }
}

uld_t* image_t::parse_block(std::size_t i)
{
    enum class state_t { tag, length, data, after_sections };

    std::unique_ptr<uld_t> block(new (std::nothrow) uld_t);
    if (!block)
        throw exception_t("memory allocation new uld_t() fails");
    std::unique_ptr<uld_section_t> open;
    state_t state = state_t::tag;
    uint32_t sum = 0;
    uint32_t left = 0;

    auto close_section = [&] {
        block->sections.push_back(open.release());
        state = state_t::tag;
    };

    for (std::size_t j = i; j < words.size(); ++j) {
        const uint32_t w = words[j];
        sum += w;
        ++block->word_count;
        switch (state) {
        case state_t::tag:
            if (w == end_word) {
                state = state_t::after_sections;
                break;
            }
            if (open)
                throw exception_t("the logic of the code is wrong");
            if (!valid_tag(w))
                throw exception_t("invalid uld tag");
            open.reset(new uld_section_t{w, 0, j});
            state = state_t::length;
            break;
        case state_t::length:
            if (w >= max_length)
                throw exception_t("invalid length");
            open->length = w;
            left = w;
            // A section without data words is complete at once.
            if (left == 0)
                close_section();
            else
                state = state_t::data;
            break;
        case state_t::data:
            if (--left == 0)
                close_section();
            break;
        case state_t::after_sections:
            if (w == end_word) {
                // Two end words with nothing before them: the image's end
                // marker. Behind sections they would leave the block without
                // a checksum word.
                if (block->word_count == 2 && block->sections.empty())
                    return block.release();
                throw exception_t("invalid uld block");
            }
            if (sum != 0)
                throw exception_t("invalid uld block");
            block->checksum = w;
            block->checksum_position = j;
            return block.release();
        }
    }
    // The words ended inside the block: it has no checksum word.
    throw exception_t("invalid uld block");
}

std::size_t image_t::locate(uint32_t address) const
{
    if (blocks.empty())
        return words.size();
    for (const uld_section_t* section : blocks.front()->sections) {
        if ((section->tag & (space_mask | kind_mask)) != addressable)
            continue;
        const uint64_t start = section->start();
        if (address < start || address >= start + section->length)
            continue;
        const uint64_t index = section->position + 2 + (address - start);
        return index < words.size() ? static_cast<std::size_t>(index) : words.size();
    }
    return words.size();
}

uint32_t image_t::read_word(uint32_t address) const
{
    const std::size_t index = locate(address);
    if (index >= words.size())
        throw exception_t("invalid memory location to read");
    return words[index];
}

bool image_t::write_word(uint32_t address, uint32_t value)
{
    const std::size_t index = locate(address);
    if (index >= words.size())
        return false;
    words[index] = value;
    return true;
}

void image_t::fix_checksums()
{
    for (uld_t* block : blocks) {
        if (block->sections.empty())
            continue;
        uint32_t sum = 0;
        for (std::size_t j = block->sections.front()->position; j < block->checksum_position; ++j)
            sum += words[j];
        block->checksum = 0 - sum;
        words[block->checksum_position] = block->checksum;
    }
}

void image_t::write_file(const std::string& path)
{
    fix_checksums();
    file_t file;
    file.open(path, "wb");
    std::vector<uint32_t> out(words);
    for (uint32_t& w : out)
        w = from_little_endian(w);
    const bool written = std::fwrite(out.data(), 4, out.size(), file.get()) == out.size();
    if (file.close() != 0 || !written) {
        vx_set_last_error_from_errno();
        throw wapi::exception_t("error writing file");
    }
}

} // namespace qm::uld
