// Test support: writers of a user's file tried on a full disk, one table of
// rows. Each row puts its earlier file in place, fills the disk but for a
// little room (a small file still fits, the row's new file does not) and
// writes: the earlier file must stay as it was and the failure be told. Once
// there is room again, the row's next chance must write the file beside its
// name, flush it and rename it, and leave no other file.
#pragma once

#include "flush_watch.h"
#include "full_disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace vx::test {

struct writer_row {
    std::string name;
    std::string file;   // inside the disk's folder
    std::string before; // the earlier file
    // Writes on the full disk; returns what the failure told.
    std::function<std::string(const std::string& path)> write;
    std::vector<std::string> told; // texts that must be in it
    // The next chance, once there is room; the file then holds `after`.
    std::function<void(const std::string& path)> next;
    std::string after;
};

inline std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void check_writers(full_disk& disk, const std::vector<writer_row>& rows)
{
    namespace fs = std::filesystem;
    const auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(disk.folder()))
            found.insert(entry.path().filename().string());
        return found;
    };
    for (const writer_row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = disk.folder() + "/" + row.file;
        std::ofstream(path, std::ios::binary) << row.before;
        const std::set<std::string> earlier = names();
        disk.fill(8192);

        const std::string told = row.write(path);
        for (const std::string& text : row.told)
            EXPECT_NE(told.find(text), std::string::npos) << "not told: " << text << "\n" << told;
        EXPECT_TRUE(file_text(path) == row.before) << "the earlier file was changed";

        disk.make_room();
        row.next(path);
        EXPECT_NE(file_text(path).find(row.after), std::string::npos) << "not written once there was room";
        EXPECT_TRUE(renamed_after_flush(path)) << "not flushed before it took the name";
        EXPECT_EQ(names(), earlier) << "a file was left";
        for (const std::string& name : names())
            fs::remove_all(disk.folder() + "/" + name);
    }
}

} // namespace vx::test
