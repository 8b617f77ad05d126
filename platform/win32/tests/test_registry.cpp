// Registry over the user hive file: values, keys, errors, other processes,
// HKEY_CLASSES_ROOT mapping, damaged and unwritable hives.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vx_registry_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        vx_registry_reset();
        hive = dir + "/veltrix/user.reg";
    }
    void TearDown() override
    {
        vx_registry_reset();
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    HKEY create(HKEY root, const char* path, DWORD* disposition = nullptr, REGSAM sam = KEY_READ | KEY_WRITE)
    {
        HKEY k = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, const_cast<LPSTR>(""), 0, sam, nullptr, &k, disposition),
                  ERROR_SUCCESS);
        return k;
    }
    static LONG set_sz(HKEY k, const char* name, const std::string& text, bool terminator = true)
    {
        return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + (terminator ? 1 : 0)));
    }
    static LONG set_dword(HKEY k, const char* name, DWORD v)
    {
        return RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
    static DWORD get_dword(HKEY k, const char* name)
    {
        DWORD v = 0xdeadbeef, size = 4, type = 0;
        EXPECT_EQ(RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        return v;
    }
    static std::string get_bytes(HKEY k, const char* name, DWORD* type = nullptr)
    {
        DWORD size = 0;
        if (RegQueryValueExA(k, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
            return "<missing>";
        std::string out(size, '\0');
        EXPECT_EQ(RegQueryValueExA(k, name, nullptr, type, reinterpret_cast<LPBYTE>(out.data()), &size), ERROR_SUCCESS);
        return out;
    }
    static std::vector<std::string> sub_keys(HKEY k)
    {
        std::vector<std::string> out;
        char name[260];
        for (DWORD i = 0; RegEnumKeyA(k, i, name, sizeof name) == ERROR_SUCCESS; ++i)
            out.push_back(name);
        return out;
    }

    std::string dir, hive;
};

TEST_F(Registry, SettingsKeyRoundTrip)
{
    DWORD disposition = 0;
    HKEY k = create(HKEY_CURRENT_USER, "SOFTWARE\\Quillon\\Tunedeck", &disposition, KEY_READ);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\quillon\\TUNEDECK", 0, 0x2001F, &k), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(k, "Retries", 2), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(k, "retries", 3), ERROR_SUCCESS); // same value, other spelling
    std::string community(63, 'c');
    EXPECT_EQ(set_sz(k, "RD_Community", community, false), ERROR_SUCCESS); // stored without terminator
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);

    vx_registry_reset(); // forget everything: values come from the file
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quillon\\Tunedeck", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(get_dword(k, "RETRIES"), 3u);
    char buf[64];
    std::memset(buf, 'X', sizeof buf);
    DWORD size = 63, type = 0;
    ASSERT_EQ(RegQueryValueExA(k, "RD_Community", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 63u);
    EXPECT_EQ(std::string(buf, 63), community);
    EXPECT_EQ(buf[63], 'X'); // exactly 63 bytes, no room for a terminator: none written
    size = 64;
    ASSERT_EQ(RegQueryValueExA(k, "RD_Community", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 63u);
    EXPECT_EQ(buf[63], '\0'); // room: terminated, not counted
    // Too small: ERROR_MORE_DATA, the size needed, buffer untouched.
    std::memset(buf, 'X', sizeof buf);
    size = 4;
    EXPECT_EQ(RegQueryValueExA(k, "RD_Community", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 63u);
    EXPECT_EQ(buf[0], 'X');
    EXPECT_EQ(RegQueryValueExA(k, "Timeout", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size),
              ERROR_FILE_NOT_FOUND);
    // A read-only handle cannot write.
    EXPECT_EQ(set_dword(k, "Timeout", 150), ERROR_ACCESS_DENIED);
    RegCloseKey(k);
    EXPECT_NE(slurp(hive).find("\"Retries\"=dword:00000003\n"), std::string::npos) << slurp(hive);
}

TEST_F(Registry, ValueTypesEnumerationAndInfo)
{
    HKEY k = create(HKEY_CURRENT_USER, "Software\\Test");
    const char multi[] = "first\0second\0";
    const BYTE bin[] = {0xc0, 0xa8, 0x01, 0x02};
    ASSERT_EQ(RegSetValueExA(k, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi), 0);
    ASSERT_EQ(RegSetValueExA(k, "Exp", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%HOME%"), 7), 0);
    ASSERT_EQ(RegSetValueExA(k, "Bin", 0, REG_BINARY, bin, 4), 0);
    ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("dflt"), 5), 0);
    ASSERT_EQ(RegSetValueExA(k, "Empty", 0, REG_BINARY, nullptr, 0), 0);
    EXPECT_EQ(RegSetValueExA(k, "Bad", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    for (const char* sub : {"zeta", "Alpha", "beta"})
        RegCloseKey(create(k, sub));

    DWORD type = 0;
    EXPECT_EQ(get_bytes(k, "multi", &type), std::string(multi, sizeof multi));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(get_bytes(k, "EXP", &type), std::string("%HOME%", 7));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(get_bytes(k, "bin", &type), std::string("\xc0\xa8\x01\x02", 4));
    EXPECT_EQ(get_bytes(k, "", &type), std::string("dflt", 5));
    EXPECT_EQ(get_bytes(k, "Empty"), "");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "Bin", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS); // existence only

    EXPECT_EQ(sub_keys(k), (std::vector<std::string>{"Alpha", "beta", "zeta"})); // name order, case kept
    char name[8];
    size = sizeof name;
    BYTE data[16];
    DWORD dsize = sizeof data;
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        size = sizeof name;
        dsize = sizeof data;
        LONG r = RegEnumValueA(k, i, name, &size, nullptr, &type, data, &dsize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        EXPECT_EQ(size, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Multi", "Exp", "Bin", "", "Empty"})); // creation order
    size = 3;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    size = sizeof name;
    dsize = 2;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &size, nullptr, nullptr, data, &dsize), ERROR_MORE_DATA);
    EXPECT_EQ(dsize, sizeof multi);
    size = 5;
    EXPECT_EQ(RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(k, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);

    DWORD subs = 0, max_sub = 0, vals = 0, max_name = 0, max_data = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subs, &max_sub, nullptr, &vals, &max_name, &max_data,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subs, 3u);
    EXPECT_EQ(max_sub, 5u);
    EXPECT_EQ(vals, 5u);
    EXPECT_EQ(max_name, 5u);
    EXPECT_EQ(max_data, sizeof multi);

    EXPECT_EQ(RegDeleteValueA(k, "EXP"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(k, "Exp"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(get_bytes(k, "Exp"), "<missing>");
    RegCloseKey(k);
}

TEST_F(Registry, KeyErrorsAndDeletion)
{
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Missing", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &k), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\\\X", 0, KEY_READ, &k), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x12345), "x", 0, KEY_READ, &k), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(reinterpret_cast<HKEY>(0x12345), "x", nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);

    HKEY parent = create(HKEY_CURRENT_USER, "Software\\P");
    HKEY child = create(parent, "Child\\Grand");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P"), ERROR_ACCESS_DENIED); // has subkeys
    EXPECT_EQ(RegDeleteKeyA(parent, "child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child\\Grand"), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(child, "x", 1), ERROR_KEY_DELETED); // its key is gone
    EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED); // a root stays
    RegCloseKey(child);
    RegCloseKey(parent);
    DWORD disposition = 0;
    RegCloseKey(create(HKEY_CURRENT_USER, "Software\\P", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
}

TEST_F(Registry, ClassesRootIsUserSoftwareClasses)
{
    HKEY k = nullptr;
    char buf[64];
    EXPECT_EQ(RegEnumKeyA(HKEY_CLASSES_ROOT, 0, buf, sizeof buf), ERROR_NO_MORE_ITEMS); // empty, not an error
    const char* clsid = "CLSID\\{DA118759-2053-4496-AB8C-53C74FBB979C}";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, clsid, REG_SZ, "manager Class", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{DA118759-2053-4496-AB8C-53C74FBB979C}\\LocalServer32", &k),
              ERROR_SUCCESS);
    ASSERT_EQ(set_sz(k, nullptr, "/opt/veltrix/scoutline"), ERROR_SUCCESS);
    RegCloseKey(k);
    RegCloseKey(create(HKEY_CLASSES_ROOT, "CLSID\\{DA118759-2053-4496-AB8C-53C74FBB979C}\\Programmable"));

    LONG size = sizeof buf;
    ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Classes\\clsid\\{DA118759-2053-4496-AB8C-53C74FBB979C}", buf,
                             &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "manager Class");
    EXPECT_EQ(size, 14);
    size = sizeof buf;
    ASSERT_EQ(
        RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{DA118759-2053-4496-AB8C-53C74FBB979C}\\Programmable", buf, &size),
        ERROR_SUCCESS); // no default value: ""
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(size, 1);
    size = 0;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, clsid, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 14);
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "CLSID\\{none}", buf, &size), ERROR_FILE_NOT_FOUND);

    // Unregistration the ATL way: depth first.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, clsid, 0, KEY_READ | KEY_WRITE, &k), ERROR_SUCCESS);
    for (std::string sub : sub_keys(k))
        EXPECT_EQ(RegDeleteKeyA(k, sub.c_str()), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, clsid), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_TRUE(sub_keys(k).empty());
    RegCloseKey(k);
}

TEST_F(Registry, MachineAndUsersAreReadOnly)
{
    vx_registry_set_adapter_source([] { return std::vector<vx_net_adapter>{}; });
    HKEY k = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillon", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              &disposition),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WRITE, &k), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(k, "x", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(k, "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, "x", REG_SZ, "y", 0), ERROR_ACCESS_DENIED);
    RegCloseKey(k);
    // Opening an existing machine key for reading through create works.
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, 0, KEY_READ, nullptr, &k, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(k);
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, ".DEFAULT", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(set_dword(HKEY_USERS, "x", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(access(hive.c_str(), F_OK), -1); // nothing was written anywhere
}

TEST_F(Registry, OtherProcessesSeeEachOthersWrites)
{
    HKEY k = create(HKEY_CURRENT_USER, "SOFTWARE\\Quillon\\Tunedeck");
    ASSERT_EQ(set_dword(k, "Timeout", 150), ERROR_SUCCESS);
    EXPECT_EQ(get_dword(k, "Timeout"), 150u); // loaded here before the other process writes
    pid_t child = fork();
    if (child == 0) {
        HKEY c = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quillon\\Tunedeck", 0, 0x2001F, &c))
            _exit(1);
        DWORD v = 300;
        if (RegSetValueExA(c, "Timeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4))
            _exit(2);
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, "Flashkit.updater", 0, nullptr, 0, KEY_WRITE, nullptr, &c, nullptr))
            _exit(3);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(get_dword(k, "Timeout"), 300u); // through the handle opened before
    HKEY c = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "flashkit.UPDATER", 0, KEY_READ, &c), ERROR_SUCCESS);
    RegCloseKey(c);

    // Writers in two processes at once: nothing is lost.
    child = fork();
    if (child == 0) {
        for (int i = 0; i < 40; ++i)
            if (set_dword(k, ("child" + std::to_string(i)).c_str(), static_cast<DWORD>(i)))
                _exit(1);
        _exit(0);
    }
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(set_dword(k, ("parent" + std::to_string(i)).c_str(), static_cast<DWORD>(i)), 0);
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 81u);
    RegCloseKey(k);
    // Nothing but the hive and its lock file is left in the folder.
    std::vector<std::string> names;
    DIR* d = opendir((dir + "/veltrix").c_str());
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.' || (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")))
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"user.reg", "user.reg.lock"}));
}

TEST_F(Registry, AwkwardNamesAndDataSurviveTheFile)
{
    const std::string key_name = "we[ir]d %41\x01 \"key\";x";
    const std::string value_name = "v\"\\\n\r\t\x7f\xc3\xa9=@";
    const std::string data("a\0b\"\\\n[Software]\n\xff", 18);
    HKEY k = create(HKEY_CURRENT_USER, ("Software\\" + key_name).c_str());
    ASSERT_EQ(RegSetValueExA(k, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              0);
    const BYTE odd[] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExA(k, "odd", 0, REG_QWORD, odd, 3), 0);
    ASSERT_EQ(RegSetValueExA(k, "dw", 0, REG_DWORD, odd, 3), 0); // a DWORD of the wrong size stays as written
    RegCloseKey(k);
    vx_registry_reset();
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ("SOFTWARE\\" + key_name).c_str(), 0, KEY_READ, &k), ERROR_SUCCESS)
        << slurp(hive);
    DWORD type = 0;
    EXPECT_EQ(get_bytes(k, value_name.c_str(), &type), data);
    EXPECT_EQ(get_bytes(k, "odd", &type), std::string("\1\2\3", 3));
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(get_bytes(k, "dw", &type), std::string("\1\2\3", 3));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(k);
    HKEY sw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &sw), ERROR_SUCCESS);
    EXPECT_EQ(sub_keys(sw), std::vector<std::string>{key_name});
    RegCloseKey(sw);
}

// The texts of the copies of damaged hives in the folder, sorted.
std::vector<std::string> damage_copies(const std::string& folder)
{
    std::vector<std::string> texts;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().rfind("user.reg.bad-", 0) == 0)
            texts.push_back(slurp(e.path()));
    std::sort(texts.begin(), texts.end());
    return texts;
}

TEST_F(Registry, UnreadableLinesCostOnlyThemselvesAndStayInTheFile)
{
    const std::string header = "; veltrix registry hive 1\n", good = "[Software\\A]\n\"x\"=dword:00000001\n";
    const std::string binary("\0\xff\x01garbage\n", 11);
    const struct {
        std::string text, notice, kept; // notice after "<hive> line "; kept as the rewritten file holds it
    } cases[] = {
        {header + good + "\"v\"=dword:12\n", "4: dword needs 8 hex digits", "\n\"v\"=dword:12\n"},
        {header + good + "[Software\\Lost\n\"y\"=sz:\"key unknown\"\n[Software\\B]\n", "4: key line without ']'",
         "\n[Software\\Lost\n\"y\"=sz:\"key unknown\"\n"},
        {header + good + "[Software\\B%5Cc]\n", "4: backslash in a key name", "\n[Software\\B%5Cc]\n"},
        {header + "\"early\"=sz:\"x\"\n" + good, "2: value before any key", header + "\"early\"=sz:\"x\"\n"},
        {good, "1: not a veltrix registry hive (first line)", header},
        {binary + good, "1: not a veltrix registry hive (first line)", header + binary},
    };
    ASSERT_EQ(system(("mkdir -p '" + dir + "/veltrix'").c_str()), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.notice);
        std::system(("rm -f '" + dir + "/veltrix/'*").c_str());
        vx_registry_reset();
        std::ofstream(hive, std::ios::binary) << c.text;
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, KEY_READ, &k), ERROR_SUCCESS);
        EXPECT_EQ(get_dword(k, "x"), 1u);
        EXPECT_EQ(get_bytes(k, "y"), "<missing>");
        RegCloseKey(k);
        EXPECT_EQ(vx_registry_notices(), std::vector<std::string>{hive + " line " + c.notice});
        EXPECT_EQ(slurp(hive), c.text); // reading never rewrites it
        RegCloseKey(create(HKEY_CURRENT_USER, "Software\\New"));
        RegCloseKey(create(HKEY_CURRENT_USER, "Software\\New2"));
        EXPECT_EQ(damage_copies(dir + "/veltrix"), std::vector<std::string>{c.text}) << "copied once";
        EXPECT_NE(slurp(hive).find(c.kept), std::string::npos) << slurp(hive);
    }
}

TEST_F(Registry, TwoDamagedLinesKeepEveryKeyThroughTwoWrites)
{
    ASSERT_EQ(system(("mkdir -p '" + dir + "/veltrix'").c_str()), 0);
    const std::string bad1 = "\"Server\"=sz:\"unterminated", bad2 = "## junk appended";
    const std::string original = "; veltrix registry hive 1\n[Software\\Classes\\CLSID\\{A}]\n@=sz:\"a Class\"\n" +
        bad1 + "\n[Software\\Classes\\CLSID\\{B}]\n[Software\\Quillon\\Tunedeck]\n\"Retries\"=dword:00000002\n";
    std::ofstream(hive, std::ios::binary) << original;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{C}", REG_SZ, "c Class", 7), ERROR_SUCCESS);
    // Another line goes bad in the rewritten file; the next write keeps both.
    std::ofstream(hive, std::ios::binary | std::ios::app) << bad2 << "\n";
    const std::string damaged = slurp(hive);
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{D}", REG_SZ, "d Class", 7), ERROR_SUCCESS);
    const auto last_line = std::count(damaged.begin(), damaged.end(), '\n');
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              hive + " line 4: unterminated text\n" + hive + " line " + std::to_string(last_line) +
                  ": unrecognised line\n");

    vx_registry_reset();
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    for (const char* path : {"CLSID\\{A}", "CLSID\\{B}", "CLSID\\{C}", "CLSID\\{D}"}) {
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &k), ERROR_SUCCESS) << path;
        RegCloseKey(k);
    }
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quillon\\Tunedeck", 0, KEY_READ, &k), ERROR_SUCCESS);
    EXPECT_EQ(get_dword(k, "Retries"), 2u);
    RegCloseKey(k);
    const std::string now = slurp(hive);
    EXPECT_NE(now.find("\n" + bad1 + "\n"), std::string::npos) << now;
    EXPECT_NE(now.find("\n" + bad2 + "\n"), std::string::npos) << now;
    // A copy of each damage, the first not overwritten by the second.
    std::vector<std::string> expected{original, damaged};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(damage_copies(dir + "/veltrix"), expected);
    // A key deleted leaves its unread lines to its parent.
    ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_SUCCESS);
    EXPECT_NE(slurp(hive).find("[Software\\Classes\\CLSID]\n" + bad1 + "\n"), std::string::npos) << slurp(hive);
}

TEST_F(Registry, FailedSaveReportsAnErrorAndChangesNothing)
{
    HKEY k = create(HKEY_CURRENT_USER, "Software\\S");
    ASSERT_EQ(set_sz(k, "v", "old"), ERROR_SUCCESS);
    const std::string before = slurp(hive);
    pid_t child = fork();
    if (child == 0) {
        // A file size limit makes the save fail even for root.
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};
        setrlimit(RLIMIT_FSIZE, &lim);
        if (set_sz(k, "v", std::string(4096, 'n')) != ERROR_CANTWRITE)
            _exit(1);
        if (vx_registry_last_save_failure() != "Registry file " + hive + " could not be written: File too large")
            _exit(3);
        char buf[8];
        DWORD size = sizeof buf;
        if (RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size) != ERROR_SUCCESS ||
            std::strcmp(buf, "old") != 0)
            _exit(2); // the failed change is not visible either
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(hive), before);
    RegCloseKey(k);

    // A folder that cannot be created.
    std::ofstream(dir + "/file") << "x";
    vx_registry_set_user_hive((dir + "/file/sub/user.reg").c_str());
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(vx_registry_last_save_failure(),
              "Registry file " + dir + "/file/sub/user.reg could not be written: Not a directory");
    vx_registry_set_user_hive(nullptr);
    RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Saved"));
    EXPECT_EQ(vx_registry_last_save_failure(), "") << "a save that succeeds clears it";
}

TEST_F(Registry, HiveLocationFollowsTheEnvironment)
{
    EXPECT_EQ(vx_registry_user_hive_path(), dir + "/veltrix/user.reg");
    setenv("XDG_CONFIG_HOME", "relative/path", 1); // not absolute: ignored
    setenv("HOME", dir.c_str(), 1);
    vx_registry_reset();
    EXPECT_EQ(vx_registry_user_hive_path(), dir + "/.config/veltrix/user.reg");
    vx_registry_set_user_hive((dir + "/other.reg").c_str());
    EXPECT_EQ(vx_registry_user_hive_path(), dir + "/other.reg");
    RegCloseKey(create(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(access((dir + "/other.reg").c_str(), F_OK), 0);
}

} // namespace
