// DSP program images in the block format: a file of 32-bit little-endian
// words grouped into blocks of memory sections, each block closed by the
// end-of-sections word 0xFFFFFFFF and a checksum word that makes the block
// sum to zero; the image ends with two 0xFFFFFFFF words. Words behind the
// end marker are kept as they are. The image is read whole into memory,
// single words are read and patched by their DSP word address, the block
// checksums are made whole again and the image is written back.
#pragma once

#include <qm/exception.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace qm {

// A list that owns the objects its elements point to.
template <class T> class del_list_t;

template <class T> class del_list_t<T*> : public std::list<T*> {
public:
    del_list_t() = default;
    del_list_t(const del_list_t&) = delete;
    del_list_t& operator=(const del_list_t&) = delete;
    virtual ~del_list_t()
    {
        for (T* each : *this)
            delete each;
        this->clear();
    }
};

namespace uld {

// Tag word fields.
constexpr uint32_t space_mask = 0x0F000000;
constexpr uint32_t kind_mask = 0x00F00000;
constexpr uint32_t address_mask = 0x0000FFFF;
constexpr uint32_t end_word = 0xFFFFFFFF;
// The sections whose words can be read and patched: memory space 1, sub-kind 2.
constexpr uint32_t addressable = 0x01200000;

struct uld_section_t {
    uint32_t tag = 0;
    uint32_t length = 0;
    std::size_t position = 0; // index of the tag word in the image's words

    uint32_t start() const { return tag & address_mask; }
};

// One block.
struct uld_t {
    del_list_t<uld_section_t*> sections;
    std::size_t word_count = 0; // end-of-sections and checksum words included
    uint32_t checksum = 0;
    std::size_t checksum_position = 0;
};

class image_t {
public:
    // Reads and parses the image; every format error throws qm::exception_t
    // with its text, file errors qm::wapi::exception_t "error opening file".
    explicit image_t(const std::string& path);
    image_t(const image_t&) = delete;
    image_t& operator=(const image_t&) = delete;

    // The data word at a word address of the first block's addressable
    // sections; "invalid memory location to read" when none covers it.
    uint32_t read_word(uint32_t address) const;
    // Stores the word; false, with nothing changed, when no section covers it.
    bool write_word(uint32_t address, uint32_t value);
    // Recomputes the checksum word of every block that has sections.
    void fix_checksums();
    // fix_checksums, then every word in order into the file ("wb").
    void write_file(const std::string& path);

    del_list_t<uld_t*> blocks;
    std::vector<uint32_t> words;

private:
    void parse();
    // Parses one block from index i; throws on a format error.
    uld_t* parse_block(std::size_t i);
    // Index of the word at the address, or words.size() when not covered.
    std::size_t locate(uint32_t address) const;
};

} // namespace uld
} // namespace qm
