// The families' recognizers over generated images of every family through a
// folder scan: which images are taken, the checksum record each gives, and
// the same records from the cache on the next scan.
#include "flashkit/database.h"
#include "flashkit/families/recognizers.h"

#include "images/images.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <map>

namespace {

namespace img = devsim::images;

// The recognizer list in its registration order.
bool recognize_any(const std::string& path, update::checksums_t& record)
{
    for (auto recognizer : {&update::alder_recognize, &update::alderamd_recognize, &update::birch_recognize,
                            &update::birchamd_recognize, &update::cedar_recognize, &update::dogwood_recognize}) {
        if (recognizer(path, record))
            return true;
    }
    return false;
}

struct sample {
    const char* what;
    img::firmware_spec spec;
    bool taken;
    std::vector<int> zero_words; // words a flaw leaves 0 in the record
};

img::firmware_spec spec(img::family f, int minor, void (*change)(img::firmware_spec&) = nullptr)
{
    img::firmware_spec s;
    s.fam = f;
    s.version = {1, minor, 0, -1};
    if (change)
        change(s);
    return s;
}

std::vector<sample> samples()
{
    using F = img::family;
    using S = img::firmware_spec;
    return {
        {"alder", spec(F::alder, 1), true, {}},
        {"alder code at 80000", spec(F::alder, 2, [](S& s) { s.alternate_code = true; }), true, {}},
        {"alder without second FPGA", spec(F::alder, 3, [](S& s) { s.fpga2 = false; }), true, {5}},
        {"alder bad FPGA", spec(F::alder, 4, [](S& s) { s.flaws = {img::flaw::fpga_checksum}; }), true, {4}},
        {"alder bad boot", spec(F::alder, 5, [](S& s) { s.flaws = {img::flaw::boot_checksum}; }), true, {2}},
        {"alder bad code", spec(F::alder, 6, [](S& s) { s.flaws = {img::flaw::code_checksum}; }), false, {}},
        {"alder short", spec(F::alder, 7, [](S& s) { s.flaws = {img::flaw::short_file}; }), false, {}},
        {"alderamd (typed alder)", spec(F::alderamd, 1), true, {}},
        {"birch", spec(F::birch, 1), true, {}},
        {"birch code at A0000", spec(F::birch, 2, [](S& s) { s.alternate_code = true; }), true, {}},
        {"birch second code at E0000", spec(F::birch, 3, [](S& s) { s.alternate_code2 = true; }), true, {}},
        {"birch one code", spec(F::birch, 4, [](S& s) { s.second_code = false; }), true, {1}},
        {"birch no record list", spec(F::birch, 5, [](S& s) { s.config_count = 0; }), true, {6}},
        {"birch bad record list", spec(F::birch, 6, [](S& s) { s.flaws = {img::flaw::config_checksum}; }), true, {6}},
        {"birch bad code", spec(F::birch, 7, [](S& s) { s.flaws = {img::flaw::code_checksum}; }), false, {}},
        {"birch long", spec(F::birch, 8, [](S& s) { s.flaws = {img::flaw::long_file}; }), false, {}},
        {"birchamd (typed birch)", spec(F::birchamd, 1), true, {}},
        {"cedar", spec(F::cedar, 1), true, {}},
        {"cedar large code", spec(F::cedar, 2, [](S& s) { s.large_code = true; }), true, {}},
        {"cedar bad boot", spec(F::cedar, 3, [](S& s) { s.flaws = {img::flaw::boot_checksum}; }), false, {}},
        {"cedar long", spec(F::cedar, 4, [](S& s) { s.flaws = {img::flaw::long_file}; }), false, {}},
        {"dogwood", spec(F::dogwood, 1), true, {}},
        {"dogwood large code", spec(F::dogwood, 2, [](S& s) { s.large_code = true; }), true, {}},
        {"dogwood without second Xilinx", spec(F::dogwood, 3, [](S& s) { s.fpga2 = false; }), true, {5}},
        {"dogwood bad boot", spec(F::dogwood, 4, [](S& s) { s.flaws = {img::flaw::boot_checksum}; }), false, {}},
        {"dogwood short", spec(F::dogwood, 5, [](S& s) { s.flaws = {img::flaw::short_file}; }), false, {}},
    };
}

TEST(Recognizers, FolderOfEveryFamilyScannedAndCached)
{
    vx::test::scratch_folder folder("recognizers");
    std::map<std::string, std::pair<sample, img::firmware_t>> made;
    for (const sample& s : samples()) {
        img::firmware_t image = img::make_firmware(s.spec);
        std::string name = img::file_name(s.spec.fam, s.spec.version);
        img::write_file((folder.path / name).string(), image.bytes);
        made.emplace(name, std::make_pair(s, image));
    }
    for (int pass = 0; pass < 2; ++pass) {
        update::database_t db;
        db.init(folder.path.string(), &recognize_any);
        std::map<std::string, update::version_ptr> found;
        for (const auto& v : db.find_all())
            found[v->file_name] = v;
        for (const auto& [name, entry] : made) {
            const auto& [s, image] = entry;
            auto it = found.find(name);
            ASSERT_EQ(it != found.end(), s.taken) << s.what << " (scan " << pass << ")";
            if (!s.taken)
                continue;
            const update::checksums_t& record = it->second->checksums;
            EXPECT_EQ(it->second->exists, 1);
            for (int w = 0; w < 8; ++w) {
                bool zero = std::find(s.zero_words.begin(), s.zero_words.end(), w) != s.zero_words.end();
                if (zero) {
                    EXPECT_EQ(record[w], 0u) << s.what << " word " << w;
                } else if (w != 3) {
                    EXPECT_EQ(record[w], image.record[static_cast<std::size_t>(w)]) << s.what << " word " << w;
                }
            }
        }
    }
}

TEST(Recognizers, AlderamdTakesNothingAndBirchamdTypesItsOwn)
{
    vx::test::scratch_folder folder("recognizers2");
    std::string alder = (folder.path / "a.bin").string();
    std::string birch = (folder.path / "b.bin").string();
    img::write_file(alder, img::make_firmware(spec(img::family::alder, 1)).bytes);
    img::write_file(birch, img::make_firmware(spec(img::family::birch, 1)).bytes);
    update::checksums_t record;
    EXPECT_TRUE(update::alder_recognize(alder, record));
    EXPECT_FALSE(update::alderamd_recognize(alder, record));
    EXPECT_FALSE(update::birch_recognize(alder, record));
    EXPECT_FALSE(update::cedar_recognize(alder, record));
    EXPECT_FALSE(update::dogwood_recognize(alder, record));
    update::checksums_t amd;
    EXPECT_TRUE(update::birchamd_recognize(birch, amd));
    EXPECT_EQ(amd.type(), update::type_birchamd);
    EXPECT_FALSE(update::alder_recognize(birch, amd));
    EXPECT_FALSE(update::alder_recognize((folder.path / "missing.bin").string(), amd));
}

// A FIFO named like an image is never opened (no writer would ever come); a
// sparse file of 4 GiB and 1 MiB is not a 1 MiB image; an image of one byte
// value throughout is no image.
TEST(Recognizers, OddFilesInTheFolderAreNeitherWaitedForNorListed)
{
    vx::test::scratch_folder folder("recognizers3");
    const img::firmware_t alder = img::make_firmware(spec(img::family::alder, 1));
    img::write_file((folder.path / "alder_1_1_0.bin").string(), alder.bytes);
    const std::string fifo = (folder.path / "alder_1_9_0.bin").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A sound image's first MiB, then a hole up to 4 GiB + 1 MiB: read with a
    // 32-bit size it would be that image.
    const std::string sparse = (folder.path / "alder_2_0_0.bin").string();
    img::write_file(sparse, alder.bytes);
    ASSERT_EQ(::truncate(sparse.c_str(), (4ll << 30) + (1 << 20)), 0);
    img::write_file((folder.path / "alder_3_0_0.bin").string(), std::vector<uint8_t>(0x100000, 0x00));
    img::write_file((folder.path / "cedar_1_0_0.bin").string(), std::vector<uint8_t>(0x20000, 0xFF));

    update::database_t db;
    auto scan = std::async(std::launch::async, [&] { db.init(folder.path.string(), &recognize_any); });
    if (scan.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY); // lets a reader that waits go on
        scan.wait();
        ::close(writer);
        FAIL() << "the scan waited for the FIFO";
    }
    std::vector<std::string> listed;
    for (const auto& v : db.find_all())
        listed.push_back(v->file_name);
    EXPECT_EQ(listed, std::vector<std::string>{"alder_1_1_0.bin"});
}

} // namespace
