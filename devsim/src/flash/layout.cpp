// The families' flash tables (offsets and sizes hexadecimal).
#include "layout.h"

#include <cstdio>
#include <stdexcept>

namespace devsim::flash {
namespace {

// Files "<prefix>NN" (two digits) or "<prefix>N" of `size` bytes.
area_t area(const char* format, int n, int64_t image_offset, uint32_t size)
{
    char name[16];
    std::snprintf(name, sizeof name, format, n);
    return {name, image_offset, size};
}

layout_t alder()
{
    layout_t l{family::alder, {}, {}, {}, 2, 0, 3, 0};
    l.areas = {
        area("m%02d", 1, 0x0, 0x4000),      area("m%02d", 2, 0x4000, 0x2000),   area("m%02d", 3, 0x6000, 0x2000),
        area("m%02d", 4, 0x8000, 0x18000),  area("m%02d", 5, 0x20000, 0x20000), area("m%02d", 6, 0x40000, 0x20000),
        area("m%02d", 7, 0x60000, 0x20000), area("m%02d", 8, -1, 0x20000),      area("m%02d", 9, -1, 0x20000)};
    l.code_banks = {{6, {5, 6}, 0x3FFFF}, {8, {7, 8}, 0x3FFFF}};
    return l;
}

layout_t alderamd()
{
    layout_t l{family::alderamd, {}, {}, {}, 2, 0, 3, 0};
    l.areas = {area("a%02d", 1, 0x0, 0x4000), area("a%02d", 2, 0x4000, 0x2000), area("a%02d", 3, 0x6000, 0x2000),
               area("a%02d", 5, 0x10000, 0x10000), area("a%02d", 6, 0x20000, 0x10000)};
    for (int n = 8; n <= 15; ++n)
        l.areas.push_back(area("a%02d", n, n < 12 ? 0x40000 + (n - 8) * 0x10000 : -1, 0x10000));
    l.code_banks = {{8, {5, 6, 7, 8}, 0x3FFFF}, {12, {9, 10, 11, 12}, 0x3FFFF}};
    return l;
}

layout_t birch()
{
    layout_t l{family::birch, {}, {}, {}, 2, 0, 4, 8};
    l.areas = {area("c%02d", 1, 0x0, 0x4000),    area("c%02d", 2, 0x4000, 0x2000),
               area("c%02d", 3, 0x6000, 0x2000), area("c%02d", 8, 0x80000, 0x20000),
               area("c%02d", 9, -1, 0x20000),    area("c%02d", 10, 0xC0000, 0x20000),
               area("c%02d", 11, -1, 0x20000),   area("c%02d", 12, -1, 0x20000)};
    l.code_banks = {{8, {3}, 0}, {9, {4}, 0}};
    l.dsp_banks = {{10, {5}, 0}, {11, {6}, 0}, {12, {7}, 0}};
    return l;
}

layout_t birchamd()
{
    layout_t l{family::birchamd, {}, {}, {}, 2, 0, 4, 8};
    l.areas = {area("s%02d", 1, 0x0, 0x4000), area("s%02d", 2, 0x4000, 0x2000), area("s%02d", 3, 0x6000, 0x2000)};
    for (int n = 12; n <= 19; ++n) {
        int64_t offset = n == 12 || n == 13 ? 0x80000 + (n - 12) * 0x10000
            : n == 16 || n == 17            ? 0xC0000 + (n - 16) * 0x10000
                                            : -1;
        l.areas.push_back(area("s%02d", n, offset, 0x10000));
    }
    l.areas.push_back(area("s%02d", 20, -1, 0x20000));
    l.code_banks = {{12, {3, 4}, 0}, {14, {5, 6}, 0}};
    l.dsp_banks = {{16, {7, 8}, 0}, {18, {9, 10}, 0}, {20, {11}, 0}};
    return l;
}

layout_t cedar()
{
    // The configuration area is the last 400 bytes of "r2".
    layout_t l{family::cedar, {}, {}, {}, 1, 0x3C00, 3, 0};
    for (int n = 1; n <= 6; ++n)
        l.areas.push_back(area("r%d", n, (n - 1) * 0x4000, 0x4000));
    l.code_banks = {{1, {2, 3}, 0x7FFE}, {2, {4, 5}, 0x7FFE}, {3, {2, 3, 4, 5}, 0xFFFF}};
    return l;
}

layout_t dogwood()
{
    // Code in "f1"/"f2", their second Xilinx images in "f3"/"f4", boot flash
    // with the configuration area at FC00 in "f8".
    layout_t l{family::dogwood, {}, {}, {}, 4, 0xFC00, 3, 0};
    l.areas = {area("f%d", 1, 0x0, 0x10000), area("f%d", 2, -1, 0x10000), area("f%d", 3, 0x20000, 0x10000),
               area("f%d", 4, -1, 0x10000), area("f%d", 8, 0x70000, 0x10000)};
    l.code_banks = {{1, {0}, 0x7FFE}, {1, {0}, 0xFFFF}, {2, {1}, 0x7FFE}, {2, {1}, 0xFFFF}};
    return l;
}

} // namespace

int layout_t::find(const std::string& name) const
{
    for (size_t i = 0; i < areas.size(); ++i)
        if (areas[i].name == name)
            return static_cast<int>(i);
    return -1;
}

const layout_t& layout_of(family f)
{
    static const layout_t layouts[] = {cedar(), dogwood(), alder(), alderamd(), birch(), birchamd()};
    int index = static_cast<int>(f);
    if (index < 0 || index > 5)
        throw std::invalid_argument("unknown family");
    return layouts[index];
}

} // namespace devsim::flash
