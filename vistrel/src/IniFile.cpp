#include "IniFile.h"

#include <qm/log_file.h>

#include <windows.h>

#include <cstring>

namespace {

// Largest section buffer tried: far beyond any settings file a user keeps.
constexpr size_t max_section_buffer = size_t(1) << 30;

} // namespace

std::string VistrelIniPath() { return GetProgramDirectory() + "vistrel.ini"; }

int ReadIniInt(const char* section, const char* key, int defaultValue)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, VistrelIniPath().c_str()));
}

void WriteIniText(const char* section, const char* key, const std::string& value)
{
    WritePrivateProfileStringA(section, key, value.c_str(), VistrelIniPath().c_str());
}

IniFile::IniFile(std::string path) : path(std::move(path)) {}

std::string IniFile::get_string(const std::string& key, const std::string& defaultValue) const
{
    char buffer[256];
    GetPrivateProfileStringA(current.c_str(), key.c_str(), defaultValue.c_str(), buffer, sizeof buffer, path.c_str());
    return buffer;
}

std::vector<std::pair<std::string, std::string>> IniFile::read_section(const std::string& section)
{
    current = section;
    // The buffer grows until the whole section fits: a section cut short
    // would lose its later entries when it is written back.
    std::vector<char> buffer(256);
    DWORD length = 0;
    for (;;) {
        length =
            GetPrivateProfileSectionA(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
        if (length != buffer.size() - 2 || buffer.size() > max_section_buffer / 2)
            break;
        buffer.assign(buffer.size() * 2, '\0');
    }

    std::vector<std::pair<std::string, std::string>> entries;
    const char* line = buffer.data();
    const char* end = buffer.data() + length;
    while (line < end && *line) {
        const std::string text(line);
        line += text.size() + 1;
        const size_t eq = text.find('=');
        if (eq != std::string::npos)
            entries.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    }
    return entries;
}

bool WriteIniSection(const char* section, const std::vector<std::pair<std::string, std::string>>& entries)
{
    if (entries.empty())
        return WritePrivateProfileStringA(section, nullptr, nullptr, VistrelIniPath().c_str()) != FALSE;
    std::string block;
    for (const auto& [key, value] : entries) {
        block += key;
        block += '=';
        block += value;
        block += '\0';
    }
    block += '\0';
    return WritePrivateProfileSectionA(section, block.data(), VistrelIniPath().c_str()) != FALSE;
}
