#include "ReportFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

std::string SafeFileName(const std::string& name)
{
    if (name == "." || name == "..")
        return {};
    std::string safe = name;
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F)
            c = '_';
    }
    return safe;
}

namespace {

// Makes each missing folder of `folder`; 0 or a ReportFileResult.
int MakeFolders(const std::string& folder)
{
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/')
            continue;
        const std::string part = folder.substr(0, end);
        if (part.back() == '/')
            continue;
        struct stat st {};
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return REPORT_NOT_FOLDER;
            continue;
        }
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return REPORT_NO_FOLDER;
    }
    return 0;
}

} // namespace

CReportFile::~CReportFile() { Discard(); }

void CReportFile::Discard()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_writing.empty())
        unlink(m_writing.c_str());
    m_writing.clear();
}

int CReportFile::Open(const std::string& folder, const std::string& name)
{
    if (folder.empty() || name.empty() || folder.size() + 1 + name.size() > kPathMax)
        return REPORT_BAD_PATH;
    const int result = MakeFolders(folder);
    if (result != 0)
        return result;
    Discard();
    const std::string at = folder.back() == '/' ? folder : folder + "/";
    m_path = at + name;
    // Only a name that could be opened for writing is replaced; the new file
    // keeps an earlier report's permissions.
    struct stat earlier {};
    const bool replacing = stat(m_path.c_str(), &earlier) == 0;
    if (replacing && (!S_ISREG(earlier.st_mode) || access(m_path.c_str(), W_OK) != 0))
        return REPORT_OPEN_FAILED;
    // A hidden name beside the report, within the length of one file name;
    // one left by a program that was killed is passed over.
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        m_writing = at + "." + name.substr(0, 200) + "." + std::to_string(getpid()) + "." + std::to_string(counter++);
        fd = open(m_writing.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        m_writing.clear();
        return REPORT_OPEN_FAILED;
    }
    if (replacing)
        fchmod(fd, earlier.st_mode & 07777);
    m_file = fdopen(fd, "wb");
    if (!m_file) {
        close(fd);
        Discard();
        return REPORT_OPEN_FAILED;
    }
    m_lineOpen = false;
    return 0;
}

int CReportFile::Write(const std::string& text)
{
    if (!m_file)
        return REPORT_WRITE_FAILED;
    if (text.empty())
        return 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size())
        return REPORT_WRITE_FAILED;
    m_lineOpen = text.back() != '\n';
    return 0;
}

int CReportFile::Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return Write(std::string(text.data(), static_cast<size_t>(length > 0 ? length : 0)));
}

int CReportFile::Close()
{
    if (!m_file)
        return 0;
    // Whole (no write failed, even if later ones went through) and on the
    // disk before it takes the report's name.
    bool ok = !std::ferror(m_file) && std::fflush(m_file) == 0 && fsync(fileno(m_file)) == 0;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (ok && rename(m_writing.c_str(), m_path.c_str()) == 0) {
        m_writing.clear();
        return 0;
    }
    Discard();
    return REPORT_WRITE_FAILED;
}

std::string DefaultReportFolder()
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}
