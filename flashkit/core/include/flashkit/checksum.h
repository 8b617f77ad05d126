// Checksums over file ranges: a region is a run of 3- or 4-byte little-endian
// words whose sum, the stored checksum word included, is zero. A region may
// be fed from several files in turn; a partial word carries into the next.
#pragma once

#include <cstdint>
#include <string>

// Word value of width 3 or 4 bytes.
uint32_t read_word(const unsigned char* bytes, int width, bool little_endian);
// Writes four bytes; for width 3 the top byte of the value is taken as 0.
void write_word(uint32_t value, unsigned char* destination, int width, bool little_endian);

class checksum_t {
public:
    checksum_t() = default;
    checksum_t(uint32_t start, uint32_t length, int width) { checksum_t::init(start, length, width); }
    virtual ~checksum_t() = default;

    virtual void init(uint32_t start, uint32_t length, int width);
    // Sums up to the remaining bytes of the file from the start offset; the
    // start applies to the first feed only. A missing file throws
    // qm::wapi::exception_t "error opening file".
    virtual void feed(const char* path);
    void feed(const std::string& path) { feed(path.c_str()); }

    // True when the whole region was fed and its words sum to zero: an empty
    // or short file never checks.
    virtual bool check() const;
    uint32_t sum() const { return total; }
    // The last complete word summed: a region's stored checksum.
    uint32_t value() const { return last; }
    uint32_t remaining_bytes() const { return remaining; }

protected:
    void add_bytes(const unsigned char* bytes, std::size_t count);

    uint32_t last = 0;
    uint32_t total = 0;
    uint32_t start = 0;
    uint32_t remaining = 0;
    unsigned char pending[4] = {};
    int pending_count = 0;
    int width = 3;
};

// Checks a whole DSP image of the block format: tags, section lengths and
// data, each block closed by 0xFFFFFFFF and its checksum word, the file by two
// 0xFFFFFFFF words. Sums 32-bit words.
class uld_checksum_t : public checksum_t {
public:
    uld_checksum_t() = default;
    uld_checksum_t(uint32_t start, uint32_t length) { uld_checksum_t::init(start, length); }

    using checksum_t::init;
    virtual void init(uint32_t start, uint32_t length);
    using checksum_t::feed;
    void feed(const char* path) override;
    // Valid only when the end marker was reached and the sum is zero.
    bool check() const override;
    // The end marker was reached; further feeds do nothing.
    bool at_end() const { return finished; }

    uint32_t words = 0;
    uint32_t first_checksum_index = 0;

private:
    void add_word(uint32_t word);

    int parse_state = 0;
    uint32_t section_left = 0;
    bool finished = false;
};
