// Image files of any content through the checksum walks, the configuration
// record reader, the version-name parser and every family's recognizer. The
// input itself is a small file: the walks, the record and the recognizers'
// size and content tests run on it at once. Every 256th input (the first of a
// run included, so that a single input replays the same way) is also tiled up
// to a family's image size, so that the recognizers walk their regions.
#include "flashkit/base.h"
#include "flashkit/checksum.h"
#include "flashkit/families/recognizers.h"
#include "flashkit/version.h"

#include "scratch.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const vx::fuzz::scratch_t& scratch()
{
    static const vx::fuzz::scratch_t folder("images");
    return folder;
}

uint32_t take32(const uint8_t*& data, size_t& size)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
        v |= static_cast<uint32_t>(*data) << (8 * i);
    return v;
}

void recognize_all(const std::string& path)
{
    update::checksums_t record;
    for (auto recognizer : {&update::alder_recognize, &update::alderamd_recognize, &update::birch_recognize,
                            &update::birchamd_recognize, &update::cedar_recognize, &update::dogwood_recognize}) {
        if (recognizer(path, record) && (record.type() < 0 || record.type() > 5))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first twelve bytes steer the walks; the rest is the image.
    const uint32_t start = take32(data, size) % 0x20000;
    const uint32_t length = take32(data, size) % 0x40000;
    const uint32_t flags = take32(data, size);
    const int width = (flags & 1) ? 4 : 3;

    const std::string image = scratch().path("image.bin");
    if (!scratch().write("image.bin", data, size))
        return 0;
    try {
        checksum_t cs(start, length, width);
        cs.feed(image);
        cs.feed(image); // the partial word carries into a second feed
        if (cs.check() && cs.remaining_bytes() != 0)
            std::abort();
        uld_checksum_t uld(start, length);
        uld.feed(image);
        if (uld.check() && !uld.at_end())
            std::abort();
        update::config_t config;
        update::base_t::read_config(config, image, start, width);
    } catch (const qm::exception_t&) {}
    if (size >= update::base_t::record_size(width)) {
        update::config_t config;
        update::base_t::parse_config(config, data, width);
    }
    recognize_all(image);

    static unsigned calls = 0;
    if (++calls % 256 == 1 && size > 0) {
        static const size_t sizes[] = {0x20000, 0x80000, 0x100000};
        std::vector<uint8_t> tiled(sizes[(flags >> 16) % 3]);
        for (size_t at = 0; at < tiled.size(); at += size)
            std::copy_n(data, std::min(size, tiled.size() - at), tiled.begin() + static_cast<std::ptrdiff_t>(at));
        if (scratch().write("image.bin", tiled.data(), tiled.size()))
            recognize_all(image);
    }

    update::checksums_t record;
    record.set_type(static_cast<int32_t>(flags % 7) - 1);
    update::version_t version(std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64)), record);
    (void)version.value();
    return 0;
}
