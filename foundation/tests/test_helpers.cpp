// String formatting, file holder and comparison, handle holder.
#include "qm/file.h"
#include "qm/handle.h"
#include "qm/strings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>

namespace fs = std::filesystem;

TEST(FormatString, AllThreeFormsCutAt511)
{
    std::string long_text(600, 'q');
    EXPECT_EQ(qm::format_string("%s", long_text.c_str()), std::string(511, 'q'));
    EXPECT_EQ(qm::format_string("%s!", std::string(510, 'r').c_str()), std::string(510, 'r') + "!");

    std::string out = "previous contents";
    qm::format_string(out, "%d-%s-%02x", 7, "x", 10);
    EXPECT_EQ(out, "7-x-0a");
    qm::format_string(out, "%s", long_text.c_str());
    EXPECT_EQ(out.size(), 511u);

    std::ostringstream os;
    os << "[";
    qm::format_string(os, "%s", long_text.c_str());
    qm::format_string(os, "]%u", 5u);
    EXPECT_EQ(os.str(), "[" + std::string(511, 'q') + "]5");
}

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vx_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string make(const std::string& name, const std::string& content)
    {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path dir;
};

std::string pattern_bytes(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7919) >> 3);
    return s;
}

} // namespace

TEST_F(FileTest, FilesEqualCases)
{
    std::string content = pattern_bytes(250000); // three chunks
    std::string a = make("a", content);
    std::string b = make("b", content);
    EXPECT_TRUE(qm::files_equal(a, b));

    std::string changed = content;
    changed.back() ^= 1;
    EXPECT_FALSE(qm::files_equal(a, make("c", changed)));
    changed = content;
    changed[102400] ^= 1; // first byte of the second chunk
    EXPECT_FALSE(qm::files_equal(a, make("d", changed)));

    EXPECT_FALSE(qm::files_equal(make("ten", std::string(10, 'x')), make("eleven", std::string(11, 'x'))));
    EXPECT_TRUE(qm::files_equal(make("exact", std::string(102400, 'e')), make("exact2", std::string(102400, 'e'))));
    // Nothing compared: not equal.
    EXPECT_FALSE(qm::files_equal(make("empty1", ""), make("empty2", "")));

    try {
        qm::files_equal(a, (dir / "missing").string());
        ADD_FAILURE() << "a missing file compared";
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("error opening file: ", 0), 0u) << e.what();
        EXPECT_EQ(e.error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    }
}

TEST_F(FileTest, FileHolder)
{
    std::string path = make("data", "0123456789");
    qm::file_t file;
    EXPECT_EQ(file.close(), 0);
    try {
        file.size();
        ADD_FAILURE() << "size without a file";
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("file not open: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(file.set_position(0), qm::wapi::exception_t);

    file.open(path, "rb");
    file.set_position(3);
    EXPECT_EQ(file.size(), 10);
    // The position is where it was before size().
    EXPECT_EQ(std::fgetc(file.get()), '3');
    file.set_position(9);
    EXPECT_EQ(std::fgetc(file.get()), '9');

    // Reopening closes the first stream.
    file.open(make("other", "abc"), "rb");
    EXPECT_EQ(file.size(), 3);
    EXPECT_EQ(std::fgetc(file.get()), 'a');
    EXPECT_EQ(file.close(), 0);
    EXPECT_FALSE(file.is_open());

    EXPECT_THROW(file.open((dir / "none" / "x").string(), "rb"), qm::wapi::exception_t);
}

TEST(CheckNotNull, ThrowsWithContext)
{
    int x = 0;
    EXPECT_NO_THROW(qm::check_not_null(&x, "ctx"));
    try {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        qm::check_not_null(nullptr, "allocating buffer");
        ADD_FAILURE();
    } catch (const qm::wapi::exception_t& e) {
        EXPECT_EQ(std::string(e.what()).rfind("allocating buffer: ", 0), 0u) << e.what();
    }
}

TEST(Handle, WaitAndClose)
{
    qm::wapi::handle_t none;
    EXPECT_EQ(none.close(), 0);
    EXPECT_FALSE(none.valid());
    EXPECT_THROW(none.wait(0), qm::wapi::exception_t);

    qm::wapi::handle_t event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    EXPECT_FALSE(event.wait(10));
    SetEvent(event);
    EXPECT_TRUE(event.wait(0));

    qm::wapi::handle_t moved(std::move(event));
    EXPECT_FALSE(event.valid());
    EXPECT_TRUE(moved.wait(0));
    EXPECT_NE(moved.close(), 0);
    EXPECT_FALSE(moved.valid());
    EXPECT_EQ(moved.close(), 0);
}
