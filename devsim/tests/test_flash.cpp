// A device's flash per family: loaded from generated images, the bank that
// runs follows what is written, copies share until written.
#include <gtest/gtest.h>

#include "flash/flash.h"

namespace {

using namespace devsim;
using images::family;
using images::version_t;

images::firmware_t image(family f, version_t v, bool large = false)
{
    images::firmware_spec spec;
    spec.fam = f;
    spec.version = v;
    spec.large_code = large;
    return images::make_firmware(spec);
}

int area(const flash::flash_t& flash, const char* name)
{
    int a = flash.layout().find(name);
    EXPECT_GE(a, 0) << name;
    return a;
}

void replace(flash::flash_t& flash, const char* name, std::span<const uint8_t> bytes)
{
    int a = area(flash, name);
    flash.erase(a);
    flash.write(a, 0, bytes);
}

TEST(FlashModel, EveryFamilyRunsTheImageItWasLoadedFrom)
{
    struct row {
        family f;
        bool large;
        int bank;
        const char* probe;
        const char* config_file;
    };
    const row rows[] = {
        {family::alder, false, 6, "m01", "m03"}, {family::alderamd, false, 8, "a01", "a03"},
        {family::birch, false, 8, "c01", "c03"}, {family::birchamd, false, 12, "s01", "s03"},
        {family::cedar, false, 1, "r2", "r2"},   {family::cedar, true, 3, "r2", "r2"},
        {family::dogwood, false, 1, "f8", "f8"}, {family::dogwood, true, 1, "f8", "f8"},
    };
    const char* probes[] = {"m01", "a01", "c01", "s01", "r2", "f8"};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(images::family_name(r.f)) + (r.large ? " large" : ""));
        version_t v{2, 20, 3, 1};
        auto img = image(r.f, v, r.large);
        flash::flash_t flash(r.f, img.bytes);
        EXPECT_EQ(flash.firmware().bank, r.bank);
        ASSERT_TRUE(flash.firmware().stamp);
        EXPECT_EQ(flash.firmware().stamp->version, v);
        EXPECT_EQ(flash.firmware().stamp->hardware, r.f == family::alder || r.f == family::alderamd ? 4 : 1);
        for (const char* p : probes)
            EXPECT_EQ(flash.layout().find(p) >= 0, std::string(p) == r.probe) << p;
        for (const auto& a : flash.layout().areas) {
            EXPECT_EQ(a.size % 512, 0u) << a.name;
            auto bytes = flash.read(flash.layout().find(a.name));
            if (a.image_offset >= 0)
                EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), img.bytes.begin() + a.image_offset)) << a.name;
            else
                EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; })) << a.name;
        }
        EXPECT_EQ(flash.layout().areas[flash.layout().config_area].name, r.config_file);
        EXPECT_EQ(flash.config().mac, images::config_t{}.mac);
    }
}

TEST(FlashModel, TheNewestValidBankRuns)
{
    // alder: bank 6 from the image, a new code into bank 8, then the junk
    // write (erase) of bank 8 brings bank 6 back.
    auto old_image = image(family::alder, {1, 0, 0, -1});
    auto new_image = image(family::alder, {1, 21, 0, -1});
    flash::flash_t alder(family::alder, old_image.bytes);
    replace(alder, "m08", std::span(new_image.bytes).subspan(0x40000, 0x20000));
    EXPECT_EQ(alder.firmware().bank, 6) << "half a bank is no bank";
    replace(alder, "m09", std::span(new_image.bytes).subspan(0x60000, 0x20000));
    EXPECT_EQ(alder.firmware().bank, 8);
    EXPECT_EQ(alder.firmware().stamp->version, (version_t{1, 21, 0, -1}));
    EXPECT_EQ(alder.firmware().stamp->hardware, 4);
    alder.erase(area(alder, "m08"));
    EXPECT_EQ(alder.firmware().bank, 6);
    EXPECT_EQ(alder.firmware().stamp->version, (version_t{1, 0, 0, -1}));
    alder.erase(area(alder, "m06"));
    EXPECT_EQ(alder.firmware().bank, -1);
    EXPECT_FALSE(alder.firmware().stamp);

    // cedar: a small code into bank 2 wins over bank 1; a large code over
    // all four files wins over both.
    auto small = image(family::cedar, {1, 2, 3, -1});
    auto small2 = image(family::cedar, {1, 2, 4, -1});
    auto large = image(family::cedar, {1, 3, 0, -1}, true);
    flash::flash_t cedar(family::cedar, small.bytes);
    replace(cedar, "r5", std::span(small2.bytes).subspan(0x8000, 0x4000));
    replace(cedar, "r6", std::span(small2.bytes).subspan(0xC000, 0x4000));
    EXPECT_EQ(cedar.firmware().bank, 2);
    EXPECT_EQ(cedar.firmware().stamp->version.build, 4);
    for (int k = 0; k < 4; ++k)
        replace(cedar, ("r" + std::to_string(3 + k)).c_str(),
                std::span(large.bytes).subspan(0x8000 + k * 0x4000, 0x4000));
    EXPECT_EQ(cedar.firmware().bank, 3);
    EXPECT_EQ(cedar.firmware().stamp->version.minor, 3);

    // birch: segmented code in bank 9.
    auto birch_new = image(family::birch, {5, 0, 0, -1});
    flash::flash_t birch(family::birch, image(family::birch, {4, 0, 0, -1}).bytes);
    replace(birch, "c09", std::span(birch_new.bytes).subspan(0x80000, 0x20000));
    EXPECT_EQ(birch.firmware().bank, 9);
    EXPECT_EQ(birch.firmware().stamp->version.major, 5);
}

TEST(FlashModel, DspProgramFollowsTheNewestDspBank)
{
    auto img = image(family::birchamd, {3, 1, 0, -1});
    flash::flash_t flash(family::birchamd, img.bytes);
    auto dsp = flash.dsp();
    ASSERT_TRUE(dsp);
    EXPECT_EQ(dsp->version, (version_t{3, 1, 0, -1}));
    EXPECT_EQ(dsp->flash_word, images::dsp_spec{}.flash_word);
    EXPECT_EQ(dsp->args.size(), images::dsp_spec{}.args_count);

    images::dsp_spec spec;
    spec.version = {9, 0, 0, -1};
    spec.flash_word = 0x777;
    spec.size = 0x18000; // split form: the first 10000 bytes in s18, the rest in s19
    auto next = images::make_dsp(spec);
    replace(flash, "s18", std::span(next.bytes).first(0x10000));
    replace(flash, "s19", std::span(next.bytes).subspan(0x10000));
    ASSERT_TRUE(flash.dsp());
    EXPECT_EQ(flash.dsp()->version, spec.version);
    EXPECT_EQ(flash.dsp()->flash_word, 0x777u);
    EXPECT_EQ(flash.firmware().bank, 12) << "the DSP banks do not change the main code";
}

TEST(FlashModel, CopiesShareUntilOneWrites)
{
    auto img = image(family::dogwood, {1, 0, 0, -1});
    flash::flash_t first(family::dogwood, img.bytes);
    flash::flash_t second = first;
    EXPECT_EQ(first.read(0).data(), second.read(0).data());
    second.erase(0);
    second.set_mac({0x02, 0, 0, 0, 0, 0x42});
    EXPECT_EQ(first.firmware().bank, 1);
    EXPECT_EQ(second.firmware().bank, -1);
    EXPECT_EQ(first.config().mac, images::config_t{}.mac);
    EXPECT_EQ(second.config().mac, (std::array<uint8_t, 6>{0x02, 0, 0, 0, 0, 0x42}));
    EXPECT_EQ(second.config().vcxo, first.config().vcxo);
}

TEST(FlashModel, ShortImageLoadsWhatThereIs)
{
    auto img = image(family::cedar, {1, 0, 0, -1});
    img.bytes.resize(0x9000); // boot and half a bank
    flash::flash_t flash(family::cedar, img.bytes);
    EXPECT_EQ(flash.firmware().bank, -1);
    EXPECT_EQ(flash.read(2)[0x1000 - 1], img.bytes[0x8FFF]);
    EXPECT_EQ(flash.read(2)[0x1000], 0xFF);
}

} // namespace
