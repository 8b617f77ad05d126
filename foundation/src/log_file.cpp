#include "qm/log_file.h"

#include <windows.h>

#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>

LogFileName& LogFileName::operator=(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock);
    value = name;
    return *this;
}

std::string LogFileName::str() const
{
    std::lock_guard<std::mutex> guard(lock);
    return value;
}

bool LogFileName::empty() const
{
    std::lock_guard<std::mutex> guard(lock);
    return value.empty();
}

namespace {

// Size of the file at path, or -1.
off_t size_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

} // namespace

void LogFile::Write(std::string_view message)
{
    std::string path = file_name.str();
    if (path.empty())
        return;

    std::lock_guard<std::mutex> guard(lock);
    // Past the cap the file becomes the one older file (replacing the last
    // one) and the line starts a new file, so the newest lines are always
    // kept and the two files together stay bounded. Another process may have
    // rolled it just now: the size is taken again at the name.
    if (size_of(path) > size_limit && std::rename(path.c_str(), older_name(path).c_str()) != 0)
        return;
    FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return;
    fseeko(file, 0, SEEK_END);
    off_t size = ftello(file);
    if (size < 0 || size > size_limit) {
        std::fclose(file);
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::fprintf(file, "%d/%d/%d,%d:%d:%d %.*s\n", now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond,
                 static_cast<int>(message.size()), message.data());
    std::fflush(file);
    std::fclose(file);
}

std::string LogFile::older_name(const std::string& name) { return name + ".1"; }

void LogFile::WriteCategory(std::string_view category, std::string_view message)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        // A condition that persists repeats its category on every pass of a
        // loop: that case is decided by one comparison.
        if (last_category >= 0 && category == last_text)
            return;
        auto found = categories.find(category);
        if (found != categories.end()) {
            if (found->second == last_category)
                return;
            last_category = found->second;
        } else {
            int32_t id = static_cast<int32_t>(categories.size());
            categories.emplace(std::string(category), id);
            last_category = id;
        }
        last_text.assign(category);
    }
    Write(message);
}

std::string GetProgramDirectory()
{
    static const std::string directory = [] {
        char path[4096] = {};
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string full(path, length < sizeof path ? length : 0);
        std::string::size_type slash = full.find_last_of('/');
        return slash == std::string::npos ? std::string("./") : full.substr(0, slash + 1);
    }();
    return directory;
}
