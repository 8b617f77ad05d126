#include "qm/profile_section.h"

#include <windows.h>

namespace qm {

profile_section_t read_profile_section(const std::string& file, const std::string& section, size_t max_bytes)
{
    // A section that does not fit comes back as size - 2 characters, never
    // with a cut line.
    std::vector<char> buffer;
    size_t size = 256;
    DWORD length = 0;
    for (;;) {
        buffer.assign(size, '\0');
        length = GetPrivateProfileSectionA(section.c_str(), buffer.data(), static_cast<DWORD>(size), file.c_str());
        if (length != size - 2 || size >= max_bytes)
            break;
        size *= 2;
    }

    // "key=value\0key=value\0\0"
    profile_section_t read;
    read.cut = length == size - 2;
    for (const char* line = buffer.data(); line < buffer.data() + length && *line;) {
        const std::string text(line);
        line += text.size() + 1;
        const size_t eq = text.find('=');
        if (eq != std::string::npos)
            read.entries.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    }
    return read;
}

bool write_profile_section(const std::string& file, const std::string& section, const profile_entries_t& entries)
{
    if (entries.empty())
        return WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, file.c_str()) != FALSE;
    std::string block;
    for (const auto& [key, value] : entries) {
        block += key;
        block += '=';
        block += value;
        block += '\0';
    }
    block += '\0';
    return WritePrivateProfileSectionA(section.c_str(), block.data(), file.c_str()) != FALSE;
}

} // namespace qm
