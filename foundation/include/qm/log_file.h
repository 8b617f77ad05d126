// Append-only, time-stamped text log: opened for every line, rolled over to
// one older file past 52,428,800 bytes, with suppression of repeated message
// categories.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

// Text guarded by its own lock, so the owner may assign the log's file name
// while other threads write lines.
class LogFileName {
public:
    LogFileName& operator=(const std::string& name);
    LogFileName& operator=(const char* name) { return *this = std::string(name ? name : ""); }
    operator std::string() const { return str(); }
    std::string str() const;
    bool empty() const;
    friend bool operator==(const LogFileName& name, const std::string& text) { return name.str() == text; }

private:
    mutable std::mutex lock;
    std::string value;
};

class LogFile {
public:
    LogFile() = default;
    ~LogFile() = default;

    // One line "M/D/YYYY,H:M:S message"; nothing while file_name is empty.
    void Write(std::string_view message);
    // Writes unless the category equals that of the last categorised line.
    // (Texts are views: a suppressed line costs no copy of either.)
    void WriteCategory(std::string_view category, std::string_view message);

    // A file larger than this is renamed to its older name (replacing the
    // older file) before the next line, which starts a new file; a file of
    // exactly this size still takes one more line. When the rename fails the
    // line is dropped, so the file never grows past the cap by more than a line.
    static constexpr long long size_limit = 52428800; // 0x3200000
    // "name.1"
    static std::string older_name(const std::string& name);

    LogFileName file_name;

private:
    std::mutex lock;
    int32_t last_category = -1;
    std::string last_text; // the text of last_category
    std::map<std::string, int32_t, std::less<>> categories;
};

// Folder of the running program, ending with '/'; computed once.
std::string GetProgramDirectory();
