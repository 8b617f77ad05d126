#include "flashkit/checksum.h"

#include <qm/file.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr std::size_t chunk_size = 65536;

// Room for one chunk of what a feed reads, no larger than what it will read;
// the reads fill it, so it is not cleared first.
std::unique_ptr<unsigned char[]> read_buffer(int64_t bytes)
{
    return std::make_unique_for_overwrite<unsigned char[]>(
        static_cast<std::size_t>(std::clamp<int64_t>(bytes, 1, chunk_size)));
}

} // namespace

uint32_t read_word(const unsigned char* b, int width, bool little_endian)
{
    if (width == 3)
        return little_endian ? (b[0] | b[1] << 8 | b[2] << 16) : (b[0] << 16 | b[1] << 8 | b[2]);
    return little_endian ? (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24)
                         : (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
}

void write_word(uint32_t value, unsigned char* d, int width, bool little_endian)
{
    if (width == 3)
        value &= 0xFFFFFF;
    for (int i = 0; i < 4; ++i) {
        int shift = little_endian ? 8 * i : 8 * (3 - i);
        d[i] = static_cast<unsigned char>(value >> shift);
    }
}

void checksum_t::init(uint32_t start_, uint32_t length, int width_)
{
    total = 0;
    last = 0;
    std::fill(std::begin(pending), std::end(pending), 0);
    pending_count = 0;
    start = start_;
    remaining = length;
    width = width_ == 4 ? 4 : 3;
}

void checksum_t::add_bytes(const unsigned char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count;) {
        if (pending_count == 0 && count - i >= static_cast<std::size_t>(width)) {
            // Whole words straight from the buffer.
            uint32_t word = read_word(bytes + i, width, true);
            total += word;
            last = word;
            i += static_cast<std::size_t>(width);
            continue;
        }
        pending[pending_count++] = bytes[i++];
        if (pending_count == width) {
            uint32_t word = read_word(pending, width, true);
            total += word;
            last = word;
            pending_count = 0;
        }
    }
}

void checksum_t::feed(const char* path)
{
    qm::file_t file;
    file.open(path, "rb");
    const int64_t size = file.size();
    // A file shorter than the start offset has nothing to give.
    int64_t available = std::max<int64_t>(size - start, 0);
    available = std::min<int64_t>(available, remaining);
    file.set_position(start);
    start = 0;

    auto buffer = read_buffer(available);
    while (available > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<int64_t>(available, chunk_size));
        std::size_t got = std::fread(buffer.get(), 1, want, file.get());
        add_bytes(buffer.get(), got);
        remaining -= static_cast<uint32_t>(got);
        available -= static_cast<int64_t>(got);
        if (got < want)
            break; // the file ended early: the region stays incomplete
    }
    if (width == 3)
        total &= 0xFFFFFF;
}

bool checksum_t::check() const { return remaining == 0 && pending_count == 0 && total == 0; }

void uld_checksum_t::init(uint32_t start_, uint32_t length)
{
    checksum_t::init(start_, length, 3);
    words = 0;
    first_checksum_index = 0;
    parse_state = 0;
    section_left = 0;
    finished = false;
}

void uld_checksum_t::add_word(uint32_t w)
{
    total += w;
    ++words;
    switch (parse_state) {
    case 0:
        parse_state = w == 0xFFFFFFFF ? 1 : 2;
        break;
    case 2:
        section_left = w;
        parse_state = 3;
        // An empty section has no data words to wait for.
        if (section_left == 0)
            parse_state = 0;
        break;
    case 3:
        if (--section_left == 0)
            parse_state = 0;
        break;
    case 1:
        if (w == 0xFFFFFFFF) {
            if (first_checksum_index != 0) {
                total += 2;
                words -= 2;
            }
            finished = true;
        } else {
            last += w;
            if (first_checksum_index == 0)
                first_checksum_index = words;
            parse_state = 0;
        }
        break;
    }
}

void uld_checksum_t::feed(const char* path)
{
    if (finished)
        return;
    qm::file_t file;
    file.open(path, "rb");
    const int64_t size = file.size();
    const int64_t first_word = start / 4;
    int64_t words_left = std::max<int64_t>(size / 4 - first_word, 0);
    file.set_position(first_word * 4);
    start = 0;

    auto buffer = read_buffer(words_left * 4);
    while (words_left > 0 && !finished) {
        std::size_t want = static_cast<std::size_t>(std::min<int64_t>(words_left * 4, chunk_size));
        std::size_t got = std::fread(buffer.get(), 1, want, file.get()) / 4 * 4;
        for (std::size_t i = 0; i < got && !finished; i += 4)
            add_word(read_word(buffer.get() + i, 4, true));
        words_left -= static_cast<int64_t>(got / 4);
        if (got < want)
            break;
    }
}

bool uld_checksum_t::check() const { return finished && total == 0; }
