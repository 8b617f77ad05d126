// The console's settings file "vistrel.ini" beside the program: the path,
// single values, and the section reader shared by the options and columns.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Program directory + "vistrel.ini", rebuilt on every call.
std::string VistrelIniPath();

// Integer of [section] key, the default when absent.
int ReadIniInt(const char* section, const char* key, int defaultValue);
// Writes a text. False when the file could not be written.
bool WriteIniText(const char* section, const char* key, const std::string& value);
// Replaces the section with the entries, in this order, in one rewrite of
// the file (no entries: the section is removed). False when the file could
// not be written; the section is then as it was.
bool WriteIniSection(const char* section, const std::vector<std::pair<std::string, std::string>>& entries);

// A write of the two above that failed: the file and the system's text for
// the error.
struct IniWriteFailure {
    std::string path;
    std::string reason;
};
// The failed writes since the last call; they are forgotten.
std::vector<IniWriteFailure> TakeIniWriteFailures();

class IniFile {
public:
    explicit IniFile(std::string path);

    // Value of key in the current section, cut to 255 characters.
    std::string get_string(const std::string& key, const std::string& defaultValue) const;
    // Makes section current and returns its entries in file order, each line
    // split at its first "="; lines without one are skipped. The section is
    // read whole, whatever its size.
    std::vector<std::pair<std::string, std::string>> read_section(const std::string& section);

    const std::string& section() const { return current; }
    void set_section(const std::string& section) { current = section; }

private:
    std::string path;
    std::string current;
};
