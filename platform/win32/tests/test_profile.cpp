// Private-profile INI files: look-ups, lists, truncation, rewrites, atomic saves.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace {

class Ini : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vx_profile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/test.ini";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void write(const std::string& text)
    {
        std::ofstream f(path, std::ios::binary);
        f << text;
    }
    std::string read()
    {
        std::ifstream f(path, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::string get(const char* sec, const char* key, const char* def = "", DWORD size = 256)
    {
        std::vector<char> buf(size + 1, 'X');
        DWORD n = GetPrivateProfileStringA(sec, key, def, buf.data(), size, path.c_str());
        EXPECT_EQ(n, std::strlen(buf.data()));
        return std::string(buf.data(), n);
    }
    static std::vector<std::string> split_list(const char* buf)
    {
        std::vector<std::string> out;
        for (const char* p = buf; *p; p += std::strlen(p) + 1)
            out.emplace_back(p);
        return out;
    }
    std::vector<std::string> files()
    {
        std::vector<std::string> out;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                out.push_back(e->d_name);
        closedir(d);
        return out;
    }

    std::string dir, path;
};

TEST_F(Ini, LookupsAreCaseInsensitiveTrimmedAndFirstMatchWins)
{
    write("; leading comment\n[Configuration]\n  SCR Refresh Period = 1500  \nAge To Die=7000\n"
          "quoted=\"  spaced  \"\nsingle='x'\nhalf=\"open\nage to die=1\n[configuration]\nlater=1\n");
    EXPECT_EQ(get("CONFIGURATION", "scr refresh period"), "1500");
    EXPECT_EQ(get(" configuration ", " Age To Die "), "7000");
    EXPECT_EQ(get("Configuration", "quoted"), "  spaced  ");
    EXPECT_EQ(get("Configuration", "single"), "x");
    EXPECT_EQ(get("Configuration", "half"), "\"open");
    EXPECT_EQ(get("Configuration", "later", "none"), "none");      // only the first section counts
    EXPECT_EQ(get("Configuration", "missing", "dflt   "), "dflt"); // trailing blanks of the default go
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("configuration", "age to die", 5000, path.c_str()), 7000u);
}

TEST_F(Ini, MissingFileGivesDefaultsAndFileNotFound)
{
    EXPECT_EQ(get("Configuration", "Adapter Index", "0"), "0");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetPrivateProfileIntA("Poller", "Poll Rate", 5, path.c_str()), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    char buf[16] = "junk";
    EXPECT_EQ(GetPrivateProfileSectionA("Adapter List", buf, sizeof buf, path.c_str()), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '\0');
}

TEST_F(Ini, InPlaceEditsAreSeenAtOnce)
{
    // Same size, same inode, same time stamp tick: the new bytes still count.
    for (int i = 0; i < 20; ++i) {
        write("[s]\nk=" + std::to_string(i % 10) + "\n");
        EXPECT_EQ(get("s", "k"), std::to_string(i % 10));
    }
}

TEST_F(Ini, IntegersReadTheLeadingNumber)
{
    write("[n]\na=102abc\nb= -5\nc=+7\nd=abc\ne=\nf=\"42\"\ng=4294967297\n");
    auto i = [&](const char* k, int def) { return GetPrivateProfileIntA("n", k, def, path.c_str()); };
    EXPECT_EQ(i("a", 9), 102u);
    EXPECT_EQ(i("b", 9), 0u); // negative reads as 0
    EXPECT_EQ(i("c", 9), 7u);
    EXPECT_EQ(i("d", 9), 0u);
    EXPECT_EQ(i("e", 9), 9u); // empty value: the default
    EXPECT_EQ(i("f", 9), 42u);
    EXPECT_EQ(i("g", 9), 1u); // 32-bit wrap as the Windows conversion
    EXPECT_EQ(static_cast<INT>(i("missing", -1)), -1);
}

TEST_F(Ini, TruncationReturnValues)
{
    write("[s]\nkey=abcdefghij\n[second]\n[third]\nk1=1\nk2=2\n");
    char buf[64];
    // A cut value returns size - 1.
    EXPECT_EQ(GetPrivateProfileStringA("s", "key", "", buf, 5, path.c_str()), 4u);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(GetPrivateProfileStringA("s", "key", "", buf, 11, path.c_str()), 10u);
    EXPECT_EQ(GetPrivateProfileStringA("s", "key", "", buf, 0, path.c_str()), 0u);
    // Lists: whole names, double terminator; size - 2 when cut.
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, path.c_str()), 15u);
    EXPECT_EQ(split_list(buf), (std::vector<std::string>{"s", "second", "third"}));
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buf, 10, path.c_str()), 8u);
    EXPECT_EQ(split_list(buf), (std::vector<std::string>{"s", "second"}));
    EXPECT_EQ(GetPrivateProfileSectionNamesA(buf, 4, path.c_str()), 2u);
    EXPECT_EQ(split_list(buf), (std::vector<std::string>{"s"}));
    EXPECT_EQ(GetPrivateProfileStringA("third", nullptr, "", buf, sizeof buf, path.c_str()), 6u);
    EXPECT_EQ(split_list(buf), (std::vector<std::string>{"k1", "k2"}));
    EXPECT_EQ(GetPrivateProfileStringA("second", nullptr, "", buf, sizeof buf, path.c_str()), 0u);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(Ini, SectionReadGrowsAndNeverCutsAnEntry)
{
    std::string text = "[(0) eth0]\n";
    std::vector<std::string> expect;
    for (int i = 0; i < 40; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "00602b0a%04x=192.168.1.%d", i, 100 + i);
        text += std::string(line) + "\n";
        expect.push_back(line);
    }
    write(text + "; tail comment\nnot a key line\n");
    // The growing-buffer loop of the callers.
    std::vector<char> buf;
    DWORD size = 64, n = 0;
    for (;;) {
        buf.assign(size, 'X');
        n = GetPrivateProfileSectionA("(0) ETH0", buf.data(), size, path.c_str());
        if (n != size - 2)
            break;
        // When cut, only whole entries are present.
        for (const auto& e : split_list(buf.data()))
            EXPECT_EQ(e.size(), expect[0].size()) << e;
        size *= 2;
    }
    EXPECT_EQ(split_list(buf.data()), expect);
    EXPECT_EQ(n, 40 * (expect[0].size() + 1));
}

TEST_F(Ini, WritesKeepCommentsOrderAndUnknownLines)
{
    write("; settings\r\n[A]\r\nx = 1\r\n; keep me\r\ngarbage line\r\n\r\n[B]\r\ny=2\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("a", "X", "10", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("A", "new", "n", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("C", "z", "3", path.c_str()));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(
        read(),
        "; settings\r\n[A]\r\nx=10\r\n; keep me\r\ngarbage line\r\nnew=n\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nz=3\r\n");
}

TEST_F(Ini, DeleteKeySectionAndWholeSectionWrite)
{
    write(
        "[Adapter List]\nAdapter 0=a\nAdapter 1=b\n[Configuration]\nAdapter Index=x\ndup=1\nDUP=2\n[adapter list]\nAdapter 2=c\n");
    ASSERT_TRUE(WritePrivateProfileStringA("configuration", "dup", nullptr, path.c_str()));
    EXPECT_EQ(get("Configuration", "dup", "gone"), "gone"); // the duplicate does not resurface
    ASSERT_TRUE(WritePrivateProfileStringA("ADAPTER LIST", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(read(), "[Configuration]\nAdapter Index=x\n");
    const char entries[] = "k1=v1\0k2 = v2\0";
    ASSERT_TRUE(WritePrivateProfileSectionA("Configuration", entries, path.c_str()));
    EXPECT_EQ(read(), "[Configuration]\nk1=v1\nk2 = v2\n");
    char buf[64];
    EXPECT_EQ(GetPrivateProfileSectionA("configuration", buf, sizeof buf, path.c_str()), 12u);
    EXPECT_EQ(split_list(buf), (std::vector<std::string>{"k1=v1", "k2=v2"}));
    // Deleting from a file that does not exist creates nothing.
    std::string other = dir + "/none.ini";
    EXPECT_TRUE(WritePrivateProfileStringA("s", nullptr, nullptr, other.c_str()));
    EXPECT_NE(access(other.c_str(), F_OK), 0);
}

TEST_F(Ini, UnsafeTextsAreRefused)
{
    write("[s]\nk=v\n");
    for (auto [sec, key, val] : std::vector<std::tuple<const char*, const char*, const char*>>{
             {"s", "k", "a\n[evil]\nx=1"}, {"s\n", "k", "v"}, {"s", "a=b", "v"}, {"s", ";k", "v"}, {"s", "[k", "v"}}) {
        EXPECT_FALSE(WritePrivateProfileStringA(sec, key, val, path.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(read(), "[s]\nk=v\n");
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", (dir + "/no/such/dir.ini").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Ini, BinaryGarbageIsKeptAndIgnored)
{
    std::string junk = std::string("[s]\nk=v\n\x01\x02", 10) + std::string(1, '\0') + "\xff=zz\n[bad\n" +
        std::string(100000, 'L') + "\nk2=w";
    write(junk);
    EXPECT_EQ(get("s", "k"), "v");
    EXPECT_EQ(get("s", "k2"), "w");
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v2", path.c_str()));
    std::string after = read();
    EXPECT_EQ(after.size(), junk.size() + 1); // "v" -> "v2"; everything else as it was
    EXPECT_NE(after.find(std::string(1, '\0') + "\xff=zz"), std::string::npos);
}

TEST_F(Ini, SavesAreAtomicAndLeaveNoTemporaryFiles)
{
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k0", "0", path.c_str()));
    // Readers in another process never see a partial file while this process
    // rewrites it many times from several threads.
    pid_t child = fork();
    if (child == 0) {
        char buf[32];
        for (int i = 0; i < 3000; ++i) {
            GetPrivateProfileStringA("s", "k0", "missing", buf, sizeof buf, path.c_str());
            if (std::strcmp(buf, "0") != 0)
                _exit(1);
        }
        _exit(0);
    }
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::string key = "t" + std::to_string(t) + "_" + std::to_string(i);
                WritePrivateProfileStringA("s", key.c_str(), std::string(200, 'v').c_str(), path.c_str());
            }
        });
    for (auto& w : writers)
        w.join();
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // No writer lost another's key.
    std::vector<char> buf(65536);
    GetPrivateProfileStringA("s", nullptr, "", buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
    EXPECT_EQ(split_list(buf.data()).size(), 201u);
    EXPECT_EQ(files(), std::vector<std::string>{"test.ini"});
}

TEST_F(Ini, ConcurrentWritersInTwoProcessesLoseNothing)
{
    pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < 100; ++i)
            if (!WritePrivateProfileStringA("c", ("child" + std::to_string(i)).c_str(), "1", path.c_str()))
                _exit(1);
        _exit(0);
    }
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(WritePrivateProfileStringA("p", ("parent" + std::to_string(i)).c_str(), "1", path.c_str()))
            << GetLastError();
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<char> buf(65536);
    GetPrivateProfileStringA("c", nullptr, "", buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
    EXPECT_EQ(split_list(buf.data()).size(), 100u);
    GetPrivateProfileStringA("p", nullptr, "", buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
    EXPECT_EQ(split_list(buf.data()).size(), 100u);
}

TEST_F(Ini, NewFileGetsUsualPermissions)
{
    ASSERT_TRUE(WritePrivateProfileStringA("s", "k", "v", path.c_str()));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(read(), "[s]\nk=v\n");
}

} // namespace

namespace {

TEST_F(Ini, AByteOrderMarkDoesNotHideTheFirstSection)
{
    write("\xEF\xBB\xBF[Timeouts]\r\nARPSleepMS=250\r\n");
    EXPECT_EQ(get("Timeouts", "ARPSleepMS"), "250");
    EXPECT_EQ(GetPrivateProfileIntA("Timeouts", "ARPSleepMS", 7, path.c_str()), 250u);
    // A rewrite keeps the mark and finds the same section instead of adding one.
    ASSERT_TRUE(WritePrivateProfileStringA("Timeouts", "ARPSleepMS", "300", path.c_str()));
    EXPECT_EQ(read(), "\xEF\xBB\xBF[Timeouts]\r\nARPSleepMS=300\r\n");
}

} // namespace
