// Image files of any content through the checksum walks, the configuration
// record reader, the version-name parser and every family's recognizer.
#include "flashkit/base.h"
#include "flashkit/checksum.h"
#include "flashkit/families/recognizers.h"
#include "flashkit/version.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& image_path()
{
    static const std::string path = "/tmp/vx-fuzz-image-" + std::to_string(::getpid()) + ".bin";
    return path;
}

void remove_image() { std::remove(image_path().c_str()); }

uint32_t take32(const uint8_t*& data, size_t& size)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
        v |= static_cast<uint32_t>(*data) << (8 * i);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The scratch image goes when the run ends (its name is made first, so
    // that it is still there then).
    image_path();
    std::atexit(remove_image);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first twelve bytes steer the walks; the rest is the image.
    const uint32_t start = take32(data, size) % 0x20000;
    const uint32_t length = take32(data, size) % 0x40000;
    const uint32_t flags = take32(data, size);
    const int width = (flags & 1) ? 4 : 3;

    FILE* f = std::fopen(image_path().c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    // Some inputs are repeated up to a family's image size, so that the
    // recognizers walk their regions rather than stop at the size test.
    if ((flags & 2) && size > 0) {
        static const long sizes[] = {0x20000, 0x80000, 0x100000};
        const long target = sizes[(flags >> 2) % 3];
        for (long written = static_cast<long>(size); written < target; written += static_cast<long>(size))
            std::fwrite(data, 1, std::min<size_t>(size, static_cast<size_t>(target - written)), f);
    }
    std::fclose(f);

    try {
        checksum_t cs(start, length, width);
        cs.feed(image_path());
        cs.feed(image_path()); // the partial word carries into a second feed
        (void)cs.check();
        uld_checksum_t uld(start, length);
        uld.feed(image_path());
        (void)uld.check();
        update::config_t config;
        update::base_t::read_config(config, image_path(), start, width);
    } catch (const qm::exception_t&) {}
    update::checksums_t record;
    for (auto recognizer : {&update::alder_recognize, &update::alderamd_recognize, &update::birch_recognize,
                            &update::birchamd_recognize, &update::cedar_recognize, &update::dogwood_recognize})
        (void)recognizer(image_path(), record);
    update::version_t version(std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64)), record);
    (void)version.value();
    return 0;
}
