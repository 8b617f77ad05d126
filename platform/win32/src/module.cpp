// Module paths, dynamic loading, platform version and version information.
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"
#include "win32/error.h"
#include "win32/module.h"

namespace {

// Copies text into a Windows-style path buffer: returns the length, or size
// with a truncated, terminated copy and ERROR_INSUFFICIENT_BUFFER.
DWORD copy_out(const std::string& text, LPSTR out, DWORD size)
{
    if (size == 0 || out == nullptr)
        return vx_win32::fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
    if (text.size() + 1 > size) {
        std::memcpy(out, text.data(), size - 1);
        out[size - 1] = '\0';
        return vx_win32::fail(ERROR_INSUFFICIENT_BUFFER, size);
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
}

std::string program_path()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string program_folder()
{
    std::string path = program_path();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Candidate files for a bare module name, most specific first.
std::vector<std::string> library_candidates(const std::string& name)
{
    std::string base = name;
    if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0)
        base.resize(base.size() - 4);
    std::string lower = base;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string folder = program_folder();
    std::vector<std::string> out{folder + "lib" + base + ".so"};
    if (lower != base)
        out.push_back(folder + "lib" + lower + ".so");
    return out;
}

// ---- version information ----
// Block layout: "VXVI", VS_FIXEDFILEINFO, then name\0value\0 pairs, then \0.
constexpr char version_magic[4] = {'V', 'X', 'V', 'I'};

std::mutex version_lock;
std::vector<BYTE> version_block; // empty: nothing registered

bool is_own_executable(LPCSTR filename)
{
    if (!filename)
        return false;
    char a[PATH_MAX];
    char b[PATH_MAX];
    std::string self = program_path();
    if (!::realpath(filename, a) || !::realpath(self.c_str(), b))
        return false;
    return std::strcmp(a, b) == 0;
}

} // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size)
{
    std::string path;
    if (module != nullptr) {
        link_map* map = nullptr;
        if (::dlinfo(reinterpret_cast<void*>(module), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
            return vx_win32::fail(ERROR_MOD_NOT_FOUND, DWORD{0});
        path = map->l_name ? map->l_name : "";
    }
    if (path.empty())
        path = program_path(); // the main program's link map has no name
    if (path.empty())
        return vx_win32::fail_errno(DWORD{0});
    return copy_out(path, filename, size);
}

HMODULE GetModuleHandleA(LPCSTR module_name)
{
    int saved = errno;
    void* handle = nullptr;
    if (module_name == nullptr) {
        handle = ::dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    } else if (std::strchr(module_name, '/')) {
        handle = ::dlopen(module_name, RTLD_NOW | RTLD_NOLOAD);
    } else {
        for (const std::string& candidate : library_candidates(module_name)) {
            if ((handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_NOLOAD)) != nullptr)
                break;
        }
    }
    if (!handle)
        return vx_win32::fail(ERROR_MOD_NOT_FOUND, HMODULE{nullptr});
    // Windows does not count GetModuleHandle references; drop the one dlopen took.
    if (module_name != nullptr)
        ::dlclose(handle);
    errno = saved;
    return reinterpret_cast<HMODULE>(handle);
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    std::string p = path ? path : "";
    size_t slash = p.rfind('/');
    std::string d = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    size_t dot = name.rfind('.');
    std::string e = dot == std::string::npos ? std::string() : name.substr(dot);
    if (dot != std::string::npos)
        name.resize(dot);
    auto put = [](char* out, const std::string& s, size_t limit) {
        if (!out)
            return;
        size_t n = s.size() < limit ? s.size() : limit - 1;
        std::memcpy(out, s.data(), n);
        out[n] = '\0';
    };
    put(drive, std::string(), _MAX_DRIVE);
    put(dir, d, _MAX_DIR);
    put(fname, name, _MAX_FNAME);
    put(ext, e, _MAX_EXT);
}

void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext)
{
    std::string p;
    if (drive && *drive)
        p += drive;
    if (dir && *dir) {
        p += dir;
        if (p.back() != '/')
            p += '/';
    }
    if (fname)
        p += fname;
    if (ext && *ext) {
        if (*ext != '.')
            p += '.';
        p += ext;
    }
    size_t n = p.size() < _MAX_PATH ? p.size() : _MAX_PATH - 1;
    std::memcpy(path, p.data(), n);
    path[n] = '\0';
}

HMODULE LoadLibraryA(LPCSTR file_name)
{
    if (!file_name || !*file_name)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, HMODULE{nullptr});
    int saved = errno;
    void* handle = nullptr;
    if (std::strchr(file_name, '/')) {
        handle = ::dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
    } else {
        std::vector<std::string> candidates = library_candidates(file_name);
        for (const std::string& candidate : candidates) {
            if (file_exists(candidate) && (handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) != nullptr)
                break;
        }
        // Not beside the program: the loader's own search path (build trees, tests).
        for (size_t i = 0; !handle && i < candidates.size(); ++i) {
            std::string bare = candidates[i].substr(candidates[i].rfind('/') + 1);
            handle = ::dlopen(bare.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (!handle)
        return vx_win32::fail(ERROR_MOD_NOT_FOUND, HMODULE{nullptr});
    errno = saved;
    return reinterpret_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name)
{
    if (!proc_name)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, FARPROC{nullptr});
    void* handle = module ? reinterpret_cast<void*>(module) : RTLD_DEFAULT;
    void* symbol = ::dlsym(handle, proc_name);
    if (!symbol)
        return vx_win32::fail(ERROR_PROC_NOT_FOUND, FARPROC{nullptr});
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    if (!module || ::dlclose(reinterpret_cast<void*>(module)) != 0)
        return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info)
{
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
        return vx_win32::fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 2195;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

void vx_set_version_info(WORD major, WORD minor, WORD build, WORD revision, const VX_VERSION_STRING* strings,
                         size_t count)
{
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = fixed.dwProductVersionMS = (DWORD{major} << 16) | minor;
    fixed.dwFileVersionLS = fixed.dwProductVersionLS = (DWORD{build} << 16) | revision;
    fixed.dwFileFlagsMask = 0x3F;
    fixed.dwFileOS = 0x00040004; // NT, 32-bit Windows
    fixed.dwFileType = 1;        // application
    std::vector<BYTE> block(sizeof version_magic + sizeof fixed);
    std::memcpy(block.data(), version_magic, sizeof version_magic);
    std::memcpy(block.data() + sizeof version_magic, &fixed, sizeof fixed);
    for (size_t i = 0; i < count; ++i) {
        if (!strings[i].name || !*strings[i].name)
            continue;
        const char* value = strings[i].value ? strings[i].value : "";
        block.insert(block.end(), strings[i].name, strings[i].name + std::strlen(strings[i].name) + 1);
        block.insert(block.end(), value, value + std::strlen(value) + 1);
    }
    block.push_back(0);
    std::lock_guard<std::mutex> guard(version_lock);
    version_block = std::move(block);
}

DWORD GetFileVersionInfoSizeA(LPCSTR filename, LPDWORD handle)
{
    if (handle)
        *handle = 0;
    std::lock_guard<std::mutex> guard(version_lock);
    if (version_block.empty() || !is_own_executable(filename))
        return vx_win32::fail(ERROR_RESOURCE_TYPE_NOT_FOUND, DWORD{0});
    return static_cast<DWORD>(version_block.size());
}

BOOL GetFileVersionInfoA(LPCSTR filename, DWORD, DWORD length, LPVOID data)
{
    std::lock_guard<std::mutex> guard(version_lock);
    if (version_block.empty() || !is_own_executable(filename))
        return vx_win32::fail(ERROR_RESOURCE_TYPE_NOT_FOUND, FALSE);
    if (!data || length < version_block.size())
        return vx_win32::fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(data, version_block.data(), version_block.size());
    return TRUE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length)
{
    if (!block || !sub_block || !buffer || std::memcmp(block, version_magic, sizeof version_magic) != 0)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
    const BYTE* base = static_cast<const BYTE*>(block);
    std::string path = sub_block;
    if (path == "\\" || path.empty()) {
        *buffer = const_cast<BYTE*>(base + sizeof version_magic);
        if (length)
            *length = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    static const DWORD translation = 0x04B00409; // US English, Unicode
    if (strcasecmp(path.c_str(), "\\VarFileInfo\\Translation") == 0) {
        *buffer = const_cast<DWORD*>(&translation);
        if (length)
            *length = sizeof translation;
        return TRUE;
    }
    static const char prefix[] = "\\StringFileInfo\\040904b0\\";
    if (path.size() <= sizeof prefix - 1 || strncasecmp(path.c_str(), prefix, sizeof prefix - 1) != 0)
        return vx_win32::fail(ERROR_RESOURCE_TYPE_NOT_FOUND, FALSE);
    std::string name = path.substr(sizeof prefix - 1);
    const char* p = reinterpret_cast<const char*>(base + sizeof version_magic + sizeof(VS_FIXEDFILEINFO));
    while (*p) {
        const char* value = p + std::strlen(p) + 1;
        if (strcasecmp(p, name.c_str()) == 0) {
            *buffer = const_cast<char*>(value);
            if (length)
                *length = static_cast<UINT>(std::strlen(value) + 1);
            return TRUE;
        }
        p = value + std::strlen(value) + 1;
    }
    return vx_win32::fail(ERROR_RESOURCE_NAME_NOT_FOUND, FALSE);
}
