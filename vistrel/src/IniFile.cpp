#include "IniFile.h"

#include <qm/log_file.h>
#include <qm/profile_section.h>

#include <windows.h>

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
    return qm::read_profile_section(path, section).entries;
}

bool WriteIniSection(const char* section, const std::vector<std::pair<std::string, std::string>>& entries)
{
    return qm::write_profile_section(VistrelIniPath(), section, entries);
}
