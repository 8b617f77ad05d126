#include "IniFile.h"

#include <qm/exception.h>
#include <qm/log_file.h>
#include <qm/profile_section.h>

#include <windows.h>

namespace {

std::vector<IniWriteFailure>& Failures()
{
    static std::vector<IniWriteFailure> failures;
    return failures;
}

// Keeps the reason of a failed write, taken from the last error at once.
bool Written(bool ok, const std::string& path)
{
    if (!ok)
        Failures().push_back({path, qm::wapi::last_error_text()});
    return ok;
}

} // namespace

std::string VistrelIniPath() { return GetProgramDirectory() + "vistrel.ini"; }

int ReadIniInt(const char* section, const char* key, int defaultValue)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, VistrelIniPath().c_str()));
}

bool WriteIniText(const char* section, const char* key, const std::string& value)
{
    const std::string path = VistrelIniPath();
    return Written(WritePrivateProfileStringA(section, key, value.c_str(), path.c_str()) != FALSE, path);
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
    const std::string path = VistrelIniPath();
    return Written(qm::write_profile_section(path, section, entries), path);
}

std::vector<IniWriteFailure> TakeIniWriteFailures() { return std::exchange(Failures(), {}); }
