// Log file: line format, category suppression, roll-over, several writers.
#include "qm/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vx_logfile_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = (dir / "test.log").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> lines() const
    {
        std::ifstream in(path);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }
    // The message part of every line.
    std::vector<std::string> messages() const
    {
        std::vector<std::string> result;
        for (const std::string& line : lines())
            result.push_back(line.substr(line.find(' ') + 1));
        return result;
    }

    fs::path dir;
    std::string path;
};

} // namespace

TEST_F(LogFileTest, LineFormatWithoutLeadingZeros)
{
    LogFile log;
    log.file_name = path;
    log.Write("hello world");
    log.Write("");
    std::ifstream in(path, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::regex one_line(
        R"(([1-9]|1[0-2])/([1-9]|[12][0-9]|3[01])/[0-9]{4},([0-9]|1[0-9]|2[0-3]):([0-9]|[1-5][0-9]):([0-9]|[1-5][0-9]|60) )");
    std::istringstream split(all);
    std::string first, second;
    std::getline(split, first);
    std::getline(split, second);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(first, m, one_line)) << first;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(first.substr(m.length(0)), "hello world");
    ASSERT_TRUE(std::regex_search(second, m, one_line)) << second;
    EXPECT_EQ(second.substr(m.length(0)), "");
    // Lines end with a single line feed.
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2);
    EXPECT_EQ(all.find('\r'), std::string::npos);
}

TEST_F(LogFileTest, CategorySuppression)
{
    LogFile log;
    log.file_name = path;
    log.WriteCategory("A", "m1");
    log.WriteCategory("A", "m2");
    log.WriteCategory("B", "m3");
    log.WriteCategory("A", "m4");
    EXPECT_EQ(messages(), (std::vector<std::string>{"m1", "m3", "m4"}));

    // Plain lines do not reset the last category.
    LogFile other;
    other.file_name = path + "2";
    other.WriteCategory("A", "m1");
    other.Write("m2");
    other.WriteCategory("A", "m3");
    path += "2";
    EXPECT_EQ(messages(), (std::vector<std::string>{"m1", "m2"}));
}

TEST_F(LogFileTest, RollsOverToOneOlderFilePastTheCap)
{
    LogFile log;
    log.file_name = path;
    const std::string older = LogFile::older_name(path);
    EXPECT_EQ(older, path + ".1");
    // Sparse files: nothing is really written.
    {
        std::ofstream create(path);
    }
    // A file of exactly the cap still takes one more line.
    ASSERT_EQ(truncate(path.c_str(), LogFile::size_limit), 0);
    log.Write("one more");
    const uintmax_t full = fs::file_size(path);
    EXPECT_GT(full, uintmax_t(LogFile::size_limit));
    EXPECT_FALSE(fs::exists(older));

    // Past it, the file becomes the older one and the line starts a new file.
    log.Write("first of the next");
    EXPECT_EQ(fs::file_size(older), full);
    EXPECT_EQ(messages(), (std::vector<std::string>{"first of the next"}));

    // The next roll replaces the older file: two files at most.
    ASSERT_EQ(truncate(path.c_str(), LogFile::size_limit + 7), 0);
    log.Write("third");
    EXPECT_EQ(fs::file_size(older), uintmax_t(LogFile::size_limit + 7));
    EXPECT_EQ(messages(), (std::vector<std::string>{"third"}));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"test.log", "test.log.1"}));

    // A roll that cannot happen drops the line: the cap still holds.
    fs::remove(older);
    fs::create_directory(older);
    fs::create_directory(fs::path(older) / "busy");
    ASSERT_EQ(truncate(path.c_str(), LogFile::size_limit + 1), 0);
    log.Write("dropped");
    EXPECT_EQ(fs::file_size(path), uintmax_t(LogFile::size_limit + 1));
}

TEST_F(LogFileTest, NoNameOrNoFolderWritesNothing)
{
    LogFile log;
    log.Write("nowhere");
    log.WriteCategory("A", "nowhere");
    EXPECT_TRUE(fs::is_empty(dir));

    log.file_name = (dir / "missing" / "x.log").string();
    log.Write("nowhere"); // silently dropped
    EXPECT_TRUE(fs::is_empty(dir));

    log.file_name = path;
    EXPECT_EQ(log.file_name.str(), path);
    log.Write("somewhere");
    EXPECT_EQ(messages(), (std::vector<std::string>{"somewhere"}));
}

TEST_F(LogFileTest, SeveralWritersAndANameChange)
{
    LogFile log;
    log.file_name = path;
    constexpr int writers = 4;
    constexpr int per_writer = 200;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([&log, w] {
            for (int i = 0; i < per_writer; ++i) {
                if (i % 2)
                    log.Write("plain " + std::to_string(w));
                else
                    log.WriteCategory("category " + std::to_string(w * 1000 + i), "categorised");
            }
        });
    for (int i = 0; i < 50; ++i)
        log.file_name = path; // the owner reassigns the name meanwhile
    for (std::thread& t : threads)
        t.join();
    std::vector<std::string> all = messages();
    EXPECT_EQ(all.size(), size_t(writers * per_writer)); // every category is new
    for (const std::string& m : all)
        EXPECT_TRUE(m == "categorised" || m.rfind("plain ", 0) == 0) << m;
}

TEST(ProgramDirectory, FolderOfTheRunningProgram)
{
    std::string dir = GetProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(fs::path(dir), fs::canonical("/proc/self/exe").parent_path() / "");
    EXPECT_EQ(GetProgramDirectory(), dir);
}
