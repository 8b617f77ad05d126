// Arbitrary files into the DSP image reader: a parse either throws one of the
// library's exceptions or gives blocks that point inside the words; patching
// any word and writing the image back keeps its length and its blocks whole.
#include "flashkit/uld.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Two scratch files in memory, removed when the run ends.
struct scratch_files {
    const std::string in = "/dev/shm/vx-fuzz-uld-in-" + std::to_string(::getpid());
    const std::string out = "/dev/shm/vx-fuzz-uld-out-" + std::to_string(::getpid());
    ~scratch_files()
    {
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
};

const std::string& scratch(const char* word)
{
    static const scratch_files files;
    return word[0] == 'i' ? files.in : files.out;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(scratch("in").c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        qm::uld::image_t image(scratch("in"));
        check(size % 4 == 0 && image.words.size() == size / 4);
        std::size_t from = 0;
        for (const qm::uld::uld_t* block : image.blocks) {
            check(block->word_count > 0 && from + block->word_count <= image.words.size());
            check(block->checksum_position == from + block->word_count - 1);
            for (const qm::uld::uld_section_t* s : block->sections)
                check(s->position >= from && s->position + 2 + s->length < from + block->word_count);
            from += block->word_count;
        }
        // Patch the first words of every addressable section, then write.
        if (!image.blocks.empty())
            for (const qm::uld::uld_section_t* s : image.blocks.front()->sections)
                if ((s->tag & 0x0FF00000) == qm::uld::addressable && s->length > 0) {
                    check(image.write_word(s->start(), 0x5A5A5A5A));
                    check(image.read_word(s->start()) == 0x5A5A5A5A);
                }
        image.write_file(scratch("out"));
        qm::uld::image_t again(scratch("out"));
        check(again.words.size() == image.words.size() && again.blocks.size() == image.blocks.size());
    } catch (const qm::exception_t&) {}
    return 0;
}
