// Feeds arbitrary bytes as an INI file to the profile readers, checks the
// list and truncation contracts, then writes a key and reads it back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include <windows.h>

namespace {

std::string g_dir, g_path;

void remove_files()
{
    unlink(g_path.c_str());
    rmdir(g_dir.c_str());
}

void check_list(const char* buf, DWORD size, DWORD n)
{
    // A list always ends with an empty string inside the buffer.
    if (size < 2)
        return;
    if (n > size - 1)
        abort();
    size_t at = 0;
    while (at < size && buf[at])
        at += std::strlen(buf + at) + 1;
    if (at >= size)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char tmpl[] = "/tmp/vx_fuzz_ini_XXXXXX";
    if (!mkdtemp(tmpl))
        abort();
    g_dir = tmpl;
    g_path = g_dir + "/f.ini";
    std::atexit(remove_files);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f)
        abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    const char* path = g_path.c_str();

    std::vector<char> names(4096), keys(4096), value(64), section(512);
    DWORD n = GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), path);
    check_list(names.data(), static_cast<DWORD>(names.size()), n);
    for (DWORD small : {0u, 1u, 2u, 3u, 7u}) {
        n = GetPrivateProfileStringA(nullptr, nullptr, "", names.data(), small, path);
        if (small >= 2)
            check_list(names.data(), small, n);
    }
    n = GetPrivateProfileStringA(nullptr, nullptr, "", names.data(), static_cast<DWORD>(names.size()), path);
    int sections = 0;
    for (const char* s = names.data(); *s && sections < 16; s += std::strlen(s) + 1, ++sections) {
        DWORD k = GetPrivateProfileStringA(s, nullptr, "", keys.data(), static_cast<DWORD>(keys.size()), path);
        check_list(keys.data(), static_cast<DWORD>(keys.size()), k);
        DWORD sn = GetPrivateProfileSectionA(s, section.data(), static_cast<DWORD>(section.size()), path);
        check_list(section.data(), static_cast<DWORD>(section.size()), sn);
        int count = 0;
        for (const char* key = keys.data(); *key && count < 16; key += std::strlen(key) + 1, ++count) {
            DWORD v = GetPrivateProfileStringA(s, key, "d", value.data(), static_cast<DWORD>(value.size()), path);
            if (v > value.size() - 1 || std::strlen(value.data()) != v)
                abort();
            GetPrivateProfileIntA(s, key, 7, path);
        }
    }

    // Writing into whatever is there: the key reads back, other sections stay.
    std::string before_names(names.data(), n);
    if (!WritePrivateProfileStringA("Fuzz Section", "fuzz key", "value 1", path))
        return 0;
    char back[32];
    GetPrivateProfileStringA("fuzz section", "FUZZ KEY", "", back, sizeof back, path);
    if (std::strcmp(back, "value 1") != 0)
        abort();
    WritePrivateProfileStringA("Fuzz Section", "fuzz key", nullptr, path);
    GetPrivateProfileStringA("fuzz section", "FUZZ KEY", "gone", back, sizeof back, path);
    if (std::strcmp(back, "gone") != 0)
        abort();
    return 0;
}
