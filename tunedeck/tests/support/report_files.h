// Test support for reports: a scratch folder per test, a fixed report clock,
// and files compared byte for byte with the expected files in reports/
// (TUNEDECK_REPORTS), with the first differing line shown on a mismatch. An
// expected file that does not exist yet is written beside the test program
// as "<name>.actual" for review, and the comparison fails.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

inline std::string FirstDifference(const std::string& expected, const std::string& actual)
{
    std::istringstream e(expected), a(actual);
    std::string le, la;
    for (int line = 1;; ++line) {
        const bool moreE = static_cast<bool>(std::getline(e, le));
        const bool moreA = static_cast<bool>(std::getline(a, la));
        if (!moreE && !moreA)
            return "line ends differ";
        if (le != la || moreE != moreA)
            return "line " + std::to_string(line) + ": expected \"" + (moreE ? le : "<end>") + "\", got \"" +
                   (moreA ? la : "<end>") + "\"";
    }
}

// `actual` (file content) equals reports/<name>; `skipLines` leading lines
// are left out of the comparison on both sides.
inline void ExpectReport(const std::string& actual, const std::string& name, int skipLines = 0)
{
    const std::string expectedPath = std::string(TUNEDECK_REPORTS) + "/" + name;
    if (!std::filesystem::exists(expectedPath)) {
        std::ofstream(name + ".actual", std::ios::binary) << actual;
        ADD_FAILURE() << "no expected file " << expectedPath << "; this run's is in " << name << ".actual";
        return;
    }
    auto skip = [skipLines](const std::string& text) {
        size_t at = 0;
        for (int i = 0; i < skipLines && at != std::string::npos; ++i) {
            at = text.find('\n', at);
            at = at == std::string::npos ? at : at + 1;
        }
        return at == std::string::npos ? std::string() : text.substr(at);
    };
    const std::string expected = skip(ReadFile(expectedPath));
    const std::string got = skip(actual);
    EXPECT_TRUE(expected == got) << name << ": " << FirstDifference(expected, got);
}

} // namespace tdtest
