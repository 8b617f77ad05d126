// INI sections read and written whole: past the first buffer, cut at the
// ceiling, lines without '=', removal.
#include "qm/profile_section.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ProfileSection : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vx_profile_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = (dir / "test.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string text() const
    {
        std::ostringstream out;
        out << std::ifstream(file).rdbuf();
        return out.str();
    }

    fs::path dir;
    std::string file;
};

TEST_F(ProfileSection, ReadWholeOrCutAtTheCeiling)
{
    std::ofstream(file) << "[hand]\nk1=v1\nno equals\nk2=a=b\n";
    EXPECT_EQ(qm::read_profile_section(file, "hand").entries, (qm::profile_entries_t{{"k1", "v1"}, {"k2", "a=b"}}));

    // Far past the first buffer.
    qm::profile_entries_t many;
    for (int k = 0; k < 200; ++k)
        many.emplace_back("key" + std::to_string(k), "value " + std::to_string(k));
    ASSERT_TRUE(qm::write_profile_section(file, "many", many));
    qm::profile_section_t read = qm::read_profile_section(file, "many");
    EXPECT_FALSE(read.cut);
    EXPECT_EQ(read.entries, many);

    // A ceiling below its size: the lines that fitted whole, marked cut.
    read = qm::read_profile_section(file, "many", 1024);
    EXPECT_TRUE(read.cut);
    ASSERT_FALSE(read.entries.empty());
    ASSERT_LT(read.entries.size(), many.size());
    EXPECT_TRUE(std::equal(read.entries.begin(), read.entries.end(), many.begin()));
}

TEST_F(ProfileSection, WrittenInOnePieceAndRemovedWhenEmpty)
{
    std::ofstream(file) << "[a]\nx=1\n[b]\nold=0\n[c]\ny=2\n";
    ASSERT_TRUE(qm::write_profile_section(file, "b", {{"n", "3"}, {"m", "4"}}));
    EXPECT_EQ(text(), "[a]\nx=1\n[b]\nn=3\nm=4\n[c]\ny=2\n");
    ASSERT_TRUE(qm::write_profile_section(file, "b", {}));
    EXPECT_EQ(text(), "[a]\nx=1\n[c]\ny=2\n");
}

} // namespace
