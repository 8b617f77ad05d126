#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "prefwell/RegSettings.h"
#include "temp_config.h"

namespace {

std::string ReadCommunity(const CRegSettings& s, int capacity = 64)
{
    std::vector<char> buf(capacity + 1, 'x');
    s.GetReadCommunity(buf.data(), capacity);
    return buf.data();
}
std::string WriteCommunity(const CRegSettings& s)
{
    char buf[64];
    s.GetWriteCommunity(buf, sizeof buf);
    return buf;
}

std::vector<std::string> ValueNames()
{
    std::vector<std::string> names;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Reg::kKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return names;
    char name[64];
    DWORD size = sizeof name;
    for (DWORD i = 0; RegEnumValueA(k, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = sizeof name)
        names.emplace_back(name);
    RegCloseKey(k);
    return names;
}

void ExpectDefaults(const CRegSettings& s)
{
    EXPECT_EQ(s.GetRetries(), 2);
    EXPECT_EQ(s.GetTimeout(), 150);
    EXPECT_EQ(s.GetDelay(), 10);
    EXPECT_EQ(s.GetSwitches(), 15);
    EXPECT_EQ(s.GetSwitchMask(), 15);
    EXPECT_EQ(ReadCommunity(s), "tagrok");
    EXPECT_EQ(WriteCommunity(s), "quenmil");
}

class RegSettingsTest : public ::testing::Test {
protected:
    TempConfig config;
};

TEST_F(RegSettingsTest, MissingKeyGivesDefaultsAndCreateKeyMakesAnEmptyKey)
{
    CRegSettings s;
    EXPECT_EQ(s.Load(), REGERR_OPEN);
    ExpectDefaults(s);
    EXPECT_FALSE(Reg::KeyExists()); // loading never creates the key

    EXPECT_EQ(s.Save(), REGERR_OPEN); // the key must exist to be written
    EXPECT_FALSE(Reg::KeyExists());

    s.CreateKey();
    EXPECT_TRUE(Reg::KeyExists());
    EXPECT_EQ(Reg::ValueCount(), 0u);
    // An empty key fails at the first row and still gives the defaults.
    s.SetRetries(9);
    EXPECT_EQ(s.Load(), REGERR_VALUE);
    ExpectDefaults(s);
}

TEST_F(RegSettingsTest, SaveWritesAllTenValuesAndTheyReadBack)
{
    {
        CRegSettings s;
        s.Load();
        s.CreateKey();
        s.SetRetries(4);
        s.SetTimeout(320);
        s.SetDelay(25);
        s.SetSwitches(0x1B);
        EXPECT_EQ(s.SetReadCommunity("public"), 7);
        EXPECT_EQ(s.SetWriteCommunity("private"), 8);
        EXPECT_EQ(s.Save(), 0);
    }
    EXPECT_EQ(Reg::ValueCount(), 10u);
    for (const char* name :
         {"Adapter", "AutoAssign", "Reservation", "Retries", "Timeout", "Delay", "Switches", "SwitchMask"})
        EXPECT_EQ(Reg::Get(name).first, static_cast<DWORD>(REG_DWORD)) << name;
    // Written into the empty key in table order (the hive lists values in creation order).
    EXPECT_EQ(ValueNames(),
              (std::vector<std::string>{"Adapter", "AutoAssign", "Reservation", "Retries", "Timeout", "Delay",
                                        "RD_Community", "WR_Community", "Switches", "SwitchMask"}));
    EXPECT_EQ(Reg::Dword("Retries"), 4u);
    EXPECT_EQ(Reg::Dword("Timeout"), 320u);
    EXPECT_EQ(Reg::Dword("SwitchMask"), 15u); // written back as loaded
    // Texts are stored without their terminator.
    EXPECT_EQ(Reg::Get("RD_Community"), std::make_pair(DWORD(REG_SZ), std::string("public")));
    EXPECT_EQ(Reg::Get("WR_Community"), std::make_pair(DWORD(REG_SZ), std::string("private")));

    CRegSettings t;
    EXPECT_EQ(t.Load(), 0);
    EXPECT_EQ(t.GetRetries(), 4);
    EXPECT_EQ(t.GetTimeout(), 320);
    EXPECT_EQ(t.GetDelay(), 25);
    EXPECT_EQ(t.GetSwitches(), 0x1B);
    EXPECT_EQ(t.GetSwitchMask(), 15);
    EXPECT_EQ(ReadCommunity(t), "public");
    EXPECT_EQ(WriteCommunity(t), "private");
}

TEST_F(RegSettingsTest, PartialKeyKeepsTheCarriedValuesAndDefaultsTheRest)
{
    Reg::SetDword("Adapter", 3);
    Reg::SetDword("AutoAssign", 1);
    Reg::SetDword("Reservation", 77);
    Reg::SetDword("Retries", 6);
    Reg::SetDword("Timeout", 400);
    CRegSettings s;
    EXPECT_EQ(s.Load(), REGERR_VALUE);
    ExpectDefaults(s); // Retries and Timeout too, although they were read
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(Reg::Dword("Adapter"), 3u);
    EXPECT_EQ(Reg::Dword("AutoAssign"), 1u);
    EXPECT_EQ(Reg::Dword("Reservation"), 77u);
    EXPECT_EQ(Reg::Dword("Retries"), 2u);
    EXPECT_EQ(Reg::Dword("Timeout"), 150u);
}

TEST_F(RegSettingsTest, ValuesOfTheWrongSizeFailTheLoad)
{
    CRegSettings s;
    s.CreateKey();
    ASSERT_EQ(s.Save(), 0);
    Reg::SetBytes("Reservation", REG_DWORD, std::string("\x05\x00", 2)); // too short
    EXPECT_EQ(s.Load(), REGERR_VALUE);
    s.Save();
    EXPECT_EQ(Reg::Get("Reservation").second, std::string(4, '\0')); // the short value never reached the row

    Reg::SetBytes("Delay", REG_BINARY, std::string(8, '\1')); // too long
    EXPECT_EQ(s.Load(), REGERR_VALUE);
    EXPECT_EQ(s.GetDelay(), 10);
    // The type of a value is not checked.
    Reg::SetBytes("Delay", REG_BINARY, std::string("\x07\x00\x00\x00", 4));
    EXPECT_EQ(s.Load(), 0);
    EXPECT_EQ(s.GetDelay(), 7);
}

TEST_F(RegSettingsTest, CommunityBoundaries)
{
    const std::string c63(63, 'c'), c64(64, 'd');
    CRegSettings s;
    s.Load();
    s.CreateKey();
    EXPECT_EQ(s.SetReadCommunity(c63.c_str()), 64);
    EXPECT_EQ(s.SetReadCommunity(c64.c_str()), 63); // ignored
    EXPECT_EQ(ReadCommunity(s), c63);
    EXPECT_EQ(s.SetWriteCommunity(""), 1);
    EXPECT_EQ(WriteCommunity(s), "");
    ASSERT_EQ(s.Save(), 0);
    EXPECT_EQ(Reg::Get("RD_Community").second, c63);

    CRegSettings t;
    ASSERT_EQ(t.Load(), 0);
    EXPECT_EQ(ReadCommunity(t), c63);
    EXPECT_EQ(WriteCommunity(t), "");

    // A destination must hold the text and its terminator, and at least 63 bytes.
    EXPECT_EQ(ReadCommunity(t, 32), "");
    EXPECT_EQ(ReadCommunity(t, 64), c63);
    {
        auto exact = std::make_unique<char[]>(63); // heap, so a sanitizer sees a byte past it
        memset(exact.get(), 'x', 63);
        t.GetReadCommunity(exact.get(), 63);
        EXPECT_EQ(exact[0], '\0');
        EXPECT_EQ(exact[62], 'x');
    }
    t.SetReadCommunity("tagrok");
    EXPECT_EQ(ReadCommunity(t, 63), "tagrok");

    // A stored community longer than 63 bytes fails the load.
    Reg::SetBytes("RD_Community", REG_SZ, c64);
    EXPECT_EQ(t.Load(), REGERR_VALUE);
    EXPECT_EQ(ReadCommunity(t), "tagrok");
}

TEST_F(RegSettingsTest, EachStoreHasItsOwnTable)
{
    auto first = std::make_unique<CRegSettings>();
    first->Load();
    first->CreateKey();
    first->SetReadCommunity("first");
    CRegSettings second;
    second.Load();
    second.SetReadCommunity("second");
    first.reset();
    ASSERT_EQ(second.Save(), 0);
    EXPECT_EQ(Reg::Get("RD_Community").second, "second");
    EXPECT_EQ(ReadCommunity(second), "second");
}

TEST_F(RegSettingsTest, FailedSaveLeavesAllTenOldValues)
{
    CRegSettings s;
    s.Load();
    s.CreateKey();
    ASSERT_EQ(s.Save(), 0);
    ASSERT_EQ(s.Load(), 0);
    s.SetRetries(5);
    s.SetReadCommunity("changed");
    const std::string c63(63, 'w');
    s.SetWriteCommunity(c63.c_str());
    // Every stored value now differs from the store's, so any value written
    // would show.
    const char* const numbers[] = {"Adapter", "AutoAssign", "Reservation", "Retries",
                                   "Timeout", "Delay",      "Switches",    "SwitchMask"};
    for (DWORD i = 0; i < 8; ++i)
        Reg::SetDword(numbers[i], 100 + i);
    Reg::SetBytes("RD_Community", REG_SZ, "old read");
    Reg::SetBytes("WR_Community", REG_SZ, "old write");
    auto expect_old_values = [&] {
        for (DWORD i = 0; i < 8; ++i)
            EXPECT_EQ(Reg::Dword(numbers[i]), 100 + i) << numbers[i];
        EXPECT_EQ(Reg::Get("RD_Community").second, "old read");
        EXPECT_EQ(Reg::Get("WR_Community").second, "old write");
        EXPECT_EQ(Reg::ValueCount(), 10u);
    };

    // The disk is full: the hive cannot grow. Written one by one, the first
    // seven values would fit and only the longer write community would fail;
    // here every row is staged and the single save fails at the commit. (In a
    // child process, so that the limit does not stay.)
    struct stat st {};
    ASSERT_EQ(stat(config.hive().c_str(), &st), 0);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(st.st_size), static_cast<rlim_t>(st.st_size)};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(s.Save() == REGERR_VALUE ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    expect_old_values();

    // The store cannot be locked for writing.
    config.BlockWrites();
    EXPECT_EQ(s.Save(), REGERR_VALUE);
    expect_old_values();
}

TEST_F(RegSettingsTest, ConfigPathThroughAFileFailsToOpen)
{
    std::string file = config.dir() + "/plain";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    fclose(f);
    config.Use(file + "/below");
    CRegSettings s;
    EXPECT_EQ(s.Load(), REGERR_OPEN);
    ExpectDefaults(s);
    s.CreateKey();
    EXPECT_EQ(s.Save(), REGERR_OPEN);
}

// Tables built by hand for the reader/writer itself.
class RegTableTest : public RegSettingsTest {
protected:
    void SetUp() override
    {
        Reg::SetDword("A", 1);
        Reg::SetBytes("T", REG_SZ, "old");
    }
    RegKeyTable Table(std::vector<RegEntry>& rows)
    {
        rows.back().kind |= REGKIND_LAST;
        return RegKeyTable{Reg::kKey, rows.data()};
    }
};

TEST_F(RegTableTest, ResultCodes)
{
    CRegTable table;
    table.SetRoot(HKEY_CURRENT_USER);
    RegEntry row{REGKIND_NUMBER, 0, "A", {0}, 4};
    EXPECT_EQ(table.ReadValue(&row), REGERR_NOKEY);
    EXPECT_EQ(table.WriteValue(&row), REGERR_NOKEY);

    std::vector<RegEntry> rows = {{REGKIND_NUMBER, 0, "A", {0}, 4}, {5, 0, "B", {0}, 4}};
    RegKeyTable t = Table(rows);
    EXPECT_EQ(table.ReadAll(&t), REGERR_KIND);
    EXPECT_EQ(rows[0].data.number, 1u); // rows before the failure were read
    EXPECT_EQ(table.WriteAll(&t), REGERR_KIND);
    EXPECT_EQ(table.ReadValue(&row), REGERR_NOKEY); // no key stays open

    std::vector<RegEntry> missing = {{REGKIND_NUMBER, 0, "A", {0}, 4}, {REGKIND_NUMBER, 0, "Nope", {0}, 4}};
    RegKeyTable m = Table(missing);
    EXPECT_EQ(table.ReadAll(&m), REGERR_VALUE);

    RegKeyTable other{"SOFTWARE\\Quillon\\Elsewhere", rows.data()};
    EXPECT_EQ(table.ReadAll(&other), REGERR_OPEN);
    EXPECT_EQ(table.WriteAll(&other), REGERR_OPEN);
    table.SetRoot(HKEY_LOCAL_MACHINE); // read-only view: the key cannot be created there
    EXPECT_EQ(table.CreateAll(&other), REGERR_OPEN);
}

TEST_F(RegTableTest, FailedRowLeavesEveryValue)
{
    char text[16] = "new";
    // A number, a text and a new value are written, then a row fails: in the
    // table (an unknown kind), or in the registry layer (raw data without a
    // buffer). Nothing written before it is kept.
    for (WORD failing : {WORD(7), WORD(REGKIND_RAW)}) {
        std::vector<RegEntry> rows = {{REGKIND_NUMBER, 0, "A", {0}, 4},
                                      {REGKIND_TEXT, 0, "T", {0}, 15},
                                      {REGKIND_NUMBER, 0, "Fresh", {0}, 4},
                                      {failing, 0, "Bad", {0}, 4},
                                      {REGKIND_NUMBER, 0, "After", {0}, 4}};
        rows[0].data.number = 42;
        rows[1].data.buffer = text;
        rows[2].data.number = 5;
        RegKeyTable t = Table(rows);
        CRegTable table;
        table.SetRoot(HKEY_CURRENT_USER);
        EXPECT_EQ(table.WriteAll(&t), failing == 7 ? REGERR_KIND : REGERR_VALUE);
        EXPECT_EQ(Reg::Dword("A"), 1u);
        EXPECT_EQ(Reg::Get("T"), std::make_pair(DWORD(REG_SZ), std::string("old")));
        EXPECT_EQ(Reg::Get("Fresh").second, "<missing>");
        EXPECT_EQ(Reg::Get("After").second, "<missing>");
        EXPECT_EQ(Reg::ValueCount(), 2u);
    }
}

TEST_F(RegTableTest, RawRowsRoundTrip)
{
    char raw[4] = {1, 0, 2, 0};
    std::vector<RegEntry> rows = {{REGKIND_RAW, 0, "R", {0}, 4}};
    rows[0].data.buffer = raw;
    RegKeyTable t = Table(rows);
    CRegTable table;
    table.SetRoot(HKEY_CURRENT_USER);
    ASSERT_EQ(table.WriteAll(&t), 0);
    EXPECT_EQ(Reg::Get("R"), std::make_pair(DWORD(REG_BINARY), std::string("\1\0\2\0", 4)));
    memset(raw, 9, sizeof raw);
    ASSERT_EQ(table.ReadAll(&t), 0);
    EXPECT_EQ(std::string(raw, 4), std::string("\1\0\2\0", 4));
}

} // namespace
