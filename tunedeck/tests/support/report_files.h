// Test support for reports: a scratch folder per test, a fixed report clock,
// and files compared byte for byte with the expected files in reports/
// (TUNEDECK_REPORTS). An expected file that does not exist yet is written
// beside the test program as "<name>.actual" for review, and the comparison
// fails.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tdtest {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& word)
        : path(std::filesystem::temp_directory_path() / ("vx-" + word + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    const std::filesystem::path path;
};

inline std::string ReadFile(const std::string& at)
{
    std::ifstream in(at, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 2 March 2024, 09:05:07: the time every compared report carries.
inline std::tm ReportClock()
{
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 2;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

// `actual` (file content) equals reports/<name> but for `skipLines` leading
// lines on both sides; a mismatch shows the differing lines.
inline void ExpectReport(const std::string& actual, const std::string& name, int skipLines = 0)
{
    const std::string expectedPath = std::string(TUNEDECK_REPORTS) + "/" + name;
    if (!std::filesystem::exists(expectedPath)) {
        std::ofstream(name + ".actual", std::ios::binary) << actual;
        ADD_FAILURE() << "no expected file " << expectedPath << "; this run's is in " << name << ".actual";
        return;
    }
    auto skip = [skipLines](std::string text) {
        for (int i = 0; i < skipLines; ++i) {
            const size_t end = text.find('\n');
            text.erase(0, end == std::string::npos ? text.size() : end + 1);
        }
        return text;
    };
    EXPECT_EQ(skip(ReadFile(expectedPath)), skip(actual)) << name;
}

} // namespace tdtest
