// Version records and the firmware folder: names, comparison, folder scan,
// the checksum cache (written, reloaded without opening an image), and the
// identify and find rules.
#include "flashkit/database.h"

#include "scratch_folder.h"
#include "test_family.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <fstream>

namespace {

using update::checksums_t;
using update::database_t;
using update::version_ptr;
using update::version_t;

checksums_t record(uint32_t code, uint32_t code2, uint32_t config, int32_t type, uint32_t boot = 0)
{
    checksums_t r;
    r[checksums_t::code_cs] = code;
    r[checksums_t::code2_cs] = code2;
    r[checksums_t::config_cs] = config;
    r[checksums_t::boot_cs] = boot;
    r.set_type(type);
    return r;
}

std::vector<std::string> names(const std::vector<version_ptr>& list)
{
    std::vector<std::string> out;
    for (const auto& v : list)
        out.push_back(v->file_name);
    return out;
}

TEST(Version, NamesParseCompareAndDisplay)
{
    struct row {
        const char* name;
        int32_t type;
        bool valid;
        int major, minor, build, patch;
    };
    for (const row& r : {row{"alder_3_1_7.bin", 2, true, 3, 1, 7, -1}, row{"birch_2_20_0_4.bin", 4, true, 2, 20, 0, 4},
                         row{"cedar_1_2.bin", 0, false, 0, 0, 0, -1}, row{"cedar_1_2_3.bin", 6, false, 1, 2, 3, -1},
                         row{"dogwood_1_2_3.bin", -1, false, 1, 2, 3, -1}}) {
        version_t v(r.name, record(1, 0, 0, r.type));
        EXPECT_EQ(v.valid != 0, r.valid) << r.name;
        if (r.valid || r.type == 6) {
            EXPECT_EQ(v.major, r.major) << r.name;
            EXPECT_EQ(v.minor, r.minor) << r.name;
            EXPECT_EQ(v.build, r.build) << r.name;
            EXPECT_EQ(v.patch, r.patch) << r.name;
        }
        EXPECT_EQ(v.exists, 0);
    }
    auto newer = [](const char* a, const char* b) {
        version_t first(a, record(1, 0, 0, 1)), second(b, record(1, 0, 0, 1));
        return first.newer_than(&second);
    };
    EXPECT_TRUE(newer("dogwood_1_2_3_4.bin", "dogwood_1_2_3.bin"));
    EXPECT_TRUE(newer("dogwood_1_2_3.bin", "dogwood_1_2_2_200.bin"));
    EXPECT_FALSE(newer("dogwood_1_2_3.bin", "dogwood_1_2_2_255.bin")); // equal values
    EXPECT_FALSE(newer("dogwood_9_0_0.bin", "cedar_1_0_0.bin"));
    EXPECT_TRUE(version_t("dogwood_1_2_3.bin", record(1, 0, 0, 1)).newer_than(nullptr));
    version_t upper("Alder_1_0_0.bin", record(1, 0, 0, 2)), lower("alder_1_0_0.bin", record(1, 0, 0, 2));
    EXPECT_FALSE(upper.is_compatible(&lower));
    EXPECT_FALSE(lower.is_compatible(nullptr));
    EXPECT_TRUE(lower.is_compatible(&lower));
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override { vx::test::register_test_families(); }

    void image(const std::string& name, const checksums_t& r)
    {
        std::ofstream((dir / name).string(), std::ios::binary) << vx::test::family_image(r);
    }
    std::string ini() const { return (dir / "database.ini").string(); }
    void ini_write(const char* section, const char* key, const char* value)
    {
        WritePrivateProfileStringA(section, key, value, ini().c_str());
    }
    std::string cached(const char* key)
    {
        char buffer[256];
        GetPrivateProfileStringA("Checksums", key, "", buffer, sizeof buffer, ini().c_str());
        return buffer;
    }
    std::shared_ptr<database_t> loaded()
    {
        auto db = std::make_shared<database_t>();
        db->init(dir.string());
        return db;
    }

    vx::test::scratch_folder scratch{"db"};
    const std::filesystem::path& dir = scratch.path;
};

// Counts the image files opened in a folder while it lives.
class open_watch {
public:
    explicit open_watch(const std::string& folder)
    {
        fd = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(fd, folder.c_str(), IN_OPEN);
    }
    ~open_watch() { close(fd); }
    // Names of the image files opened so far (repeats of one file may merge).
    std::set<std::string> opened()
    {
        std::set<std::string> names;
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                std::string name = e->len ? e->name : "";
                if (name.size() > 4 && name.substr(name.size() - 4) == ".bin")
                    names.insert(name);
                p += sizeof(inotify_event) + e->len;
            }
        }
        return names;
    }

private:
    int fd;
};

TEST_F(Folder, ScanFillsTheCacheAndAWarmScanOpensNoImage)
{
    image("birch_2_0_0.bin", record(0xFFFFFFF0, 0x80000001, 0xDEADBEEF, 4, 5));
    image("alder_3_1_7.bin", record(100, 0, 0, 2, 7));
    image("ALDER_1_0_0.BIN", record(101, 0, 0, 2)); // the pattern ignores case
    image("notes_1_0_0.txt", record(102, 0, 0, 2)); // not an image name
    image("alder_junk.bin", record(103, 0, 0, 2));  // not a version name
    std::ofstream((dir / "foreign_1_0_0.bin").string()) << "something else";
    {
        auto db = loaded();
        // Byte-wise name order, whatever the folder lists first.
        EXPECT_EQ(names(db->find_all()),
                  (std::vector<std::string>{"ALDER_1_0_0.BIN", "alder_3_1_7.bin", "birch_2_0_0.bin"}));
        for (const auto& v : db->find_all())
            EXPECT_EQ(v->exists, 1);
    }
    // Written on release: seven numbers, each followed by a blank; unsigned.
    EXPECT_EQ(cached("birch_2_0_0.bin"), "4294967280 5 0 0 3735928559 5 2147483649");
    EXPECT_EQ(cached("alder_3_1_7.bin"), "100 7 0 0 0 3 0");

    for (const char* name : {"birch_2_0_0.bin", "alder_3_1_7.bin", "ALDER_1_0_0.BIN"})
        std::filesystem::permissions(dir / name, std::filesystem::perms::none);
    open_watch watch(dir.string());
    auto db = loaded();
    // Only the files that gave no record are tried again.
    EXPECT_EQ(watch.opened(), (std::set<std::string>{"alder_junk.bin", "foreign_1_0_0.bin"}));
    auto all = db->find_all();
    ASSERT_EQ(all.size(), 3u);
    // Cache order first (the order of its keys).
    EXPECT_EQ(names(all), (std::vector<std::string>{"ALDER_1_0_0.BIN", "alder_3_1_7.bin", "birch_2_0_0.bin"}));
    EXPECT_EQ(all[2]->checksums, record(0xFFFFFFF0, 0x80000001, 0xDEADBEEF, 4, 5));
    for (const auto& v : all)
        EXPECT_EQ(v->exists, 1);
}

TEST_F(Folder, MissingImagesStayCachedButAreNeverPreferred)
{
    image("alder_1_0_0.bin", record(1, 0, 0, 2));
    image("alder_2_0_0.bin", record(2, 0, 0, 2));
    loaded().reset();
    std::filesystem::remove(dir / "alder_2_0_0.bin");
    auto db = loaded();
    auto all = db->find_all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1]->exists, 0);
    EXPECT_EQ(db->find_prefered(all[0])->file_name, "alder_1_0_0.bin");
    EXPECT_EQ(db->find_prefered(all[1])->file_name, "alder_1_0_0.bin");
    EXPECT_EQ(db->find_compatible(all[0].get()).size(), 2u);
    db.reset();
    EXPECT_EQ(cached("alder_2_0_0.bin"), "2 0 0 0 0 3 0");
}

TEST_F(Folder, OptionsNocacheAndWriteini)
{
    image("alder_1_0_0.bin", record(1, 0, 0, 2));
    loaded().reset();
    // A cached value that no longer matches the file is kept without nocache...
    ini_write("Checksums", "alder_1_0_0.bin", "9 0 0 0 0 3 0 ");
    {
        open_watch watch(dir.string());
        EXPECT_EQ(loaded()->find_all()[0]->checksums[0], 9u);
        EXPECT_TRUE(watch.opened().empty());
    }
    // ...and read again with it, then rewritten.
    ini_write("options", "nocache", "1");
    {
        open_watch watch(dir.string());
        auto db = loaded();
        EXPECT_EQ(db->find_all().size(), 1u);
        EXPECT_EQ(db->find_all()[0]->checksums[0], 1u);
        EXPECT_EQ(watch.opened(), std::set<std::string>{"alder_1_0_0.bin"});
    }
    EXPECT_EQ(cached("alder_1_0_0.bin"), "1 0 0 0 0 3 0");
    ini_write("options", "nocache", "0");
    ini_write("options", "writeini", "0");
    image("alder_5_0_0.bin", record(5, 0, 0, 2));
    EXPECT_EQ(loaded()->find_all().size(), 2u);
    EXPECT_EQ(cached("alder_5_0_0.bin"), "");
    // A re-init writes what is pending whatever writeini says.
    auto db = loaded();
    db->init(dir.string());
    EXPECT_EQ(cached("alder_5_0_0.bin"), "5 0 0 0 0 3 0");
}

TEST_F(Folder, NamesTheCacheCannotHoldAreRecognisedEveryTime)
{
    image("Alder_1_0_0.bin", record(1, 0, 0, 2));
    image("alder_1_0_0.bin", record(2, 0, 0, 2));
    image("alder_2_0_0=.bin", record(3, 0, 0, 2));
    image(";alder_3_0_0.bin", record(4, 0, 0, 2));
    image("alder_4_0_0.bin", record(5, 0, 0, 2));
    loaded().reset();
    std::string text = vx::test::text_of(ini());
    EXPECT_EQ(text.find("lder_1_0_0"), std::string::npos) << text;
    EXPECT_EQ(text.find("=.bin"), std::string::npos) << text;
    EXPECT_EQ(text.find(";alder"), std::string::npos) << text;
    EXPECT_EQ(cached("alder_4_0_0.bin"), "5 0 0 0 0 3 0");
    // Each keeps its own checksums on the next load.
    auto db = loaded();
    std::map<std::string, uint32_t> code;
    for (const auto& v : db->find_all())
        code[v->file_name] = v->checksums[0];
    EXPECT_EQ(code["Alder_1_0_0.bin"], 1u);
    EXPECT_EQ(code["alder_1_0_0.bin"], 2u);
    EXPECT_EQ(code[";alder_3_0_0.bin"], 4u);
    EXPECT_EQ(code.size(), 5u);
}

TEST_F(Folder, CachedEntriesReadWithWrapAndDefaults)
{
    ini_write("Checksums", "alder_1_0_0.bin", "-16 5 0 0 -559038737 3 -2147483647");
    ini_write("Checksums", "alder_2_0_0.bin", "7 1 2 3 4");   // no device type: dropped
    ini_write("Checksums", "cedar_1_2.bin", "7 1 2 3 4 1 0"); // not a version name: dropped
    ini_write("Device Types", "alder", "Alder Mark II");
    auto db = loaded();
    auto all = db->find_all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]->checksums, record(0xFFFFFFF0, 0x80000001, 0xDEADBEEF, 2, 5));
    EXPECT_EQ(all[0]->exists, 0);
    EXPECT_EQ(db->display_name(all[0].get()), "Alder Mark II version 1.0.0");
    EXPECT_EQ(db->display_name(nullptr), "???");
    version_t patched("birch_2_20_0_4.bin", record(1, 0, 0, 4));
    EXPECT_EQ(db->display_name(&patched), "birch version 2.20.0.4");
}

TEST_F(Folder, IdentifyPrefersTheImageWithTheDevicesConfiguration)
{
    ini_write("Checksums", "alder_1_0_0.bin", "10 0 0 0 0 3 20 ");  // code 10/20, no config
    ini_write("Checksums", "alder_1_0_1.bin", "10 0 0 0 77 3 20 "); // same code, config 77
    ini_write("Checksums", "alder_9_0_0.bin", "99 0 0 0 88 3 0 ");  // other code, config 88
    auto db = loaded();
    struct row {
        uint32_t code, code2, config;
        const char* version;
        const char* custom;
        const char* custom_version;
    };
    for (const row& r :
         {row{10, 20, 77, "alder_1_0_1.bin", "", nullptr}, row{10, 20, 55, "alder_1_0_0.bin", "Unknown", nullptr},
          row{10, 20, 88, "alder_1_0_0.bin", "alder", "alder_9_0_0.bin"},
          row{10, 20, 0, "alder_1_0_0.bin", "", nullptr}, row{11, 20, 0, nullptr, "", nullptr},
          row{11, 20, 88, nullptr, "alder", "alder_9_0_0.bin"}, row{11, 20, 5, nullptr, "Unknown", nullptr}}) {
        std::string custom;
        version_ptr custom_version;
        version_ptr v = db->identify(record(r.code, r.code2, r.config, 2), custom, custom_version);
        EXPECT_EQ(v ? v->file_name : "", r.version ? r.version : "") << r.code << "/" << r.config;
        EXPECT_EQ(custom, r.custom) << r.code << "/" << r.config;
        EXPECT_EQ(custom_version ? custom_version->file_name : "", r.custom_version ? r.custom_version : "");
    }
    // Without a record whose configuration is 0 the first code match is favoured.
    ini_write("Checksums", "alder_1_0_0.bin", "10 0 0 0 66 3 20 ");
    db->init(dir.string());
    std::string custom;
    version_ptr custom_version;
    EXPECT_EQ(db->identify(record(10, 20, 55, 2), custom, custom_version)->file_name, "alder_1_0_0.bin");
}

TEST_F(Folder, FindSametypeSplitsAlderByHardware)
{
    ini_write("Checksums", "alder_1_19_0.bin", "1 0 0 0 0 3 0 ");
    ini_write("Checksums", "alderamd_1_20_0.bin", "2 0 0 0 0 4 0 ");
    ini_write("Checksums", "birch_1_0_0.bin", "3 0 0 0 0 5 0 ");
    ini_write("Checksums", "birchamd_1_0_0.bin", "4 0 0 0 0 6 0 ");
    ini_write("Checksums", "cedar_1_0_0.bin", "5 0 0 0 0 1 0 ");
    auto db = loaded();
    using list = std::vector<std::string>;
    EXPECT_EQ(names(db->find_sametype(2, 3)), list{"alder_1_19_0.bin"});
    EXPECT_EQ(names(db->find_sametype(3, 4)), list{"alderamd_1_20_0.bin"});
    EXPECT_EQ(names(db->find_sametype(3, -1)), (list{"alder_1_19_0.bin", "alderamd_1_20_0.bin"}));
    EXPECT_EQ(names(db->find_sametype(5, 0)), (list{"birch_1_0_0.bin", "birchamd_1_0_0.bin"}));
    EXPECT_EQ(names(db->find_sametype(0, 3)), list{"cedar_1_0_0.bin"});
    EXPECT_TRUE(db->find_sametype(1, -1).empty());
}

TEST_F(Folder, RecordsOutliveReinitAndTheDatabase)
{
    image("alder_1_0_0.bin", record(1, 0, 0, 2));
    auto db = loaded();
    version_ptr kept = db->find_all().at(0);
    std::filesystem::remove(dir / "alder_1_0_0.bin");
    db->init(dir.string());
    db.reset();
    EXPECT_EQ(kept->file_name, "alder_1_0_0.bin");
    EXPECT_EQ(kept->exists, 1);
    // A missing folder gives an empty scan.
    database_t empty;
    empty.init((dir / "none").string());
    EXPECT_TRUE(empty.find_all().empty());
}

} // namespace
