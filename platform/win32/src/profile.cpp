// Private-profile (INI) files: parsing, look-ups and atomic rewrites.
#include "win32/profile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reg_file.h"
#include "win32/error.h"

namespace {

// SetLastError also clears errno, so GetLastError reports this value.
void set_error(DWORD e) { SetLastError(e); }

constexpr const char* kBlanks = " \t\r\n\v\f";

std::string_view trim(std::string_view s)
{
    size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos)
        return s.substr(s.size()); // empty, but still inside s
    size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// One line of the file. Lines are kept verbatim; only a key line that is
// changed is rewritten.
// Name and value are kept as offsets into raw: a file is parsed on every call,
// so a line costs one allocation at most.
struct Line {
    enum Kind { Other, Section, Key };
    std::string raw;
    Kind kind = Other;
    uint32_t name_at = 0, name_len = 0;   // section name or key, trimmed
    uint32_t value_at = 0, value_len = 0; // key lines: value, trimmed

    std::string_view name() const { return std::string_view(raw).substr(name_at, name_len); }
    std::string_view value() const { return std::string_view(raw).substr(value_at, value_len); }
    void set_name(std::string_view part)
    {
        name_at = static_cast<uint32_t>(part.data() - raw.data());
        name_len = static_cast<uint32_t>(part.size());
    }
    void set_value(std::string_view part)
    {
        value_at = static_cast<uint32_t>(part.data() - raw.data());
        value_len = static_cast<uint32_t>(part.size());
    }
};

Line classify(std::string raw)
{
    Line line;
    line.raw = std::move(raw);
    std::string_view text = line.raw;
    if (text.find('\0') != std::string_view::npos)
        return line; // binary junk: kept, ignored
    std::string_view t = trim(text);
    if (t.empty() || t[0] == ';')
        return line;
    if (t[0] == '[') {
        size_t close = t.rfind(']');
        if (close == std::string_view::npos || close == 0)
            return line;
        line.kind = Line::Section;
        line.set_name(trim(t.substr(1, close - 1)));
        return line;
    }
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return line;
    std::string_view key = trim(t.substr(0, eq));
    if (key.empty())
        return line;
    line.kind = Line::Key;
    line.set_name(key);
    line.set_value(trim(t.substr(eq + 1)));
    return line;
}

struct Doc {
    std::vector<Line> lines;
    std::string eol = "\n";
    bool final_eol = true;
    // A UTF-8 byte-order mark at the start: not part of the first line, kept on save.
    bool bom = false;

    void parse(const std::string& whole)
    {
        lines.clear();
        eol = "\n";
        final_eol = true;
        bom = whole.compare(0, 3, "\xEF\xBB\xBF") == 0;
        const std::string_view text = std::string_view(whole).substr(bom ? 3 : 0);
        if (text.empty())
            return;
        size_t first_nl = text.find('\n');
        if (first_nl != std::string::npos && first_nl > 0 && text[first_nl - 1] == '\r')
            eol = "\r\n";
        size_t pos = 0;
        while (pos < text.size()) {
            size_t nl = text.find('\n', pos);
            size_t end = nl == std::string::npos ? text.size() : nl;
            size_t content_end = end;
            if (content_end > pos && text[content_end - 1] == '\r')
                --content_end;
            lines.push_back(classify(std::string(text.substr(pos, content_end - pos))));
            if (nl == std::string::npos) {
                final_eol = false;
                break;
            }
            pos = nl + 1;
        }
    }

    std::string serialise() const
    {
        std::string out = bom ? "\xEF\xBB\xBF" : "";
        for (size_t i = 0; i < lines.size(); ++i) {
            out += lines[i].raw;
            if (i + 1 < lines.size() || final_eol)
                out += eol;
        }
        return out;
    }

    // Index of the first section with this name, or -1.
    long find_section(std::string_view name) const
    {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].kind == Line::Section && same_name(lines[i].name(), name))
                return static_cast<long>(i);
        return -1;
    }

    // One past the last line of the section that starts at index s.
    size_t section_end(size_t s) const
    {
        size_t i = s + 1;
        while (i < lines.size() && lines[i].kind != Line::Section)
            ++i;
        return i;
    }

    const Line* find_key(std::string_view section, std::string_view key) const
    {
        long s = find_section(section);
        if (s < 0)
            return nullptr;
        size_t end = section_end(static_cast<size_t>(s));
        for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i)
            if (lines[i].kind == Line::Key && same_name(lines[i].name(), key))
                return &lines[i];
        return nullptr;
    }

    // Where a new line goes at the end of the section starting at s: after its
    // last non-blank line, so blank separators stay before the next section.
    size_t append_point(size_t s) const
    {
        size_t end = section_end(s);
        size_t at = end;
        while (at > s + 1 && trim(lines[at - 1].raw).empty())
            --at;
        return at;
    }

    void erase_sections(std::string_view name)
    {
        for (long s; (s = find_section(name)) >= 0;) {
            size_t end = section_end(static_cast<size_t>(s));
            lines.erase(lines.begin() + s, lines.begin() + static_cast<long>(end));
        }
    }

    // Appends a new section at the end of the file, separated by a blank line.
    size_t add_section(std::string_view name)
    {
        if (!lines.empty() && !trim(lines.back().raw).empty())
            lines.push_back(classify(""));
        lines.push_back(classify("[" + std::string(name) + "]"));
        final_eol = true;
        return lines.size() - 1;
    }

    void set_key(std::string_view section, std::string_view key, std::string_view value)
    {
        std::string text = std::string(key) + "=" + std::string(value);
        long s = find_section(section);
        if (s < 0) {
            add_section(section);
            lines.push_back(classify(text));
            return;
        }
        size_t end = section_end(static_cast<size_t>(s));
        for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i) {
            if (lines[i].kind == Line::Key && same_name(lines[i].name(), key)) {
                lines[i] = classify(std::string(lines[i].name()) + "=" +
                                    std::string(value)); // the file's spelling of the key stays
                return;
            }
        }
        size_t at = append_point(static_cast<size_t>(s));
        lines.insert(lines.begin() + static_cast<long>(at), classify(text));
    }

    // Removes every occurrence of the key in the first matching section, so
    // that a duplicate never resurfaces after a delete.
    void delete_key(std::string_view section, std::string_view key)
    {
        long s = find_section(section);
        if (s < 0)
            return;
        size_t end = section_end(static_cast<size_t>(s));
        for (size_t i = end; i-- > static_cast<size_t>(s) + 1;)
            if (lines[i].kind == Line::Key && same_name(lines[i].name(), key))
                lines.erase(lines.begin() + static_cast<long>(i));
    }

    void replace_section(std::string_view section, const std::vector<std::string>& entries)
    {
        long s = find_section(section);
        if (s < 0) {
            add_section(section);
            for (const auto& e : entries)
                lines.push_back(classify(e));
            return;
        }
        // Drop later duplicates of the section, then the first one's body; keep
        // the trailing blank lines that separate it from the next section.
        size_t first = static_cast<size_t>(s);
        for (;;) {
            long dup = -1;
            for (size_t i = section_end(first); i < lines.size(); ++i)
                if (lines[i].kind == Line::Section && same_name(lines[i].name(), section)) {
                    dup = static_cast<long>(i);
                    break;
                }
            if (dup < 0)
                break;
            size_t end = section_end(static_cast<size_t>(dup));
            lines.erase(lines.begin() + dup, lines.begin() + static_cast<long>(end));
        }
        size_t at = append_point(first);
        lines.erase(lines.begin() + static_cast<long>(first) + 1, lines.begin() + static_cast<long>(at));
        std::vector<Line> body;
        for (const auto& e : entries)
            body.push_back(classify(e));
        lines.insert(lines.begin() + static_cast<long>(first) + 1, body.begin(), body.end());
    }
};

// Serialises writers of this process; writers of other processes are kept
// out by an flock on the file itself.
std::mutex g_write_mutex;

enum class ReadResult { Ok, Missing, Failed };

ReadResult read_file(const char* path, std::string& out)
{
    if (vx::reg::read_whole(path, out))
        return ReadResult::Ok;
    return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
}

// Loads the file for a read call; sets the last error the Windows way.
// Parsed files of recent reads. The file is read on every call; its parse is
// reused only when the bytes are the same, so in-place edits within one time
// stamp tick are never missed. Callers read many keys of one file in a row.
struct Parsed {
    std::string path;
    std::string text;
    std::shared_ptr<const Doc> doc;
};
std::mutex g_parsed_mutex;
std::vector<Parsed> g_parsed; // most recent last
constexpr size_t kParsedFiles = 8;

std::shared_ptr<const Doc> load_for_read(const char* path)
{
    std::string text;
    ReadResult r = path ? read_file(path, text) : ReadResult::Missing;
    std::shared_ptr<const Doc> doc;
    if (r == ReadResult::Ok && path) {
        std::lock_guard<std::mutex> guard(g_parsed_mutex);
        for (auto it = g_parsed.begin(); it != g_parsed.end(); ++it) {
            if (it->path != path)
                continue;
            if (it->text == text)
                doc = it->doc;
            g_parsed.erase(it);
            break;
        }
        if (!doc) {
            auto fresh = std::make_shared<Doc>();
            fresh->parse(text);
            doc = fresh;
        }
        g_parsed.push_back(Parsed{path, std::move(text), doc});
        if (g_parsed.size() > kParsedFiles)
            g_parsed.erase(g_parsed.begin());
    } else {
        doc = std::make_shared<Doc>();
    }
    set_error(r == ReadResult::Missing ? ERROR_FILE_NOT_FOUND : 0);
    return doc;
}

// Copies a list of names, whole names only, "a\0b\0\0". Returns the Windows
// result: characters written without the final terminator, or size - 2 when
// the list did not fit.
DWORD copy_list(const std::vector<std::string>& items, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    size_t used = 0;
    bool cut = false;
    for (const auto& item : items) {
        if (used + item.size() + 1 + 1 > size) {
            cut = true;
            break;
        }
        std::memcpy(buffer + used, item.data(), item.size());
        used += item.size();
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    if (used == 0)
        buffer[1] = '\0';
    return cut ? size - 2 : static_cast<DWORD>(used);
}

// Copies one text, cut to fit; returns the characters copied.
DWORD copy_text(std::string_view text, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

std::string_view strip_quotes(std::string_view v)
{
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// Adds a name unless one that matches it is listed already.
void add_name(std::vector<std::string>& names, std::string_view name)
{
    for (const auto& n : names)
        if (same_name(n, name))
            return;
    names.emplace_back(name);
}

std::vector<std::string> section_names(const Doc& doc)
{
    std::vector<std::string> names;
    for (const auto& l : doc.lines)
        if (l.kind == Line::Section && !l.name().empty())
            add_name(names, l.name());
    return names;
}

std::vector<std::string> key_names(const Doc& doc, std::string_view section)
{
    std::vector<std::string> names;
    long s = doc.find_section(section);
    if (s < 0)
        return names;
    size_t end = doc.section_end(static_cast<size_t>(s));
    for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i)
        if (doc.lines[i].kind == Line::Key)
            add_name(names, doc.lines[i].name());
    return names;
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Holds an flock on the file's folder while the file is read, changed and
// replaced. The file itself cannot carry the lock: every save puts a new file
// in its place. A folder that cannot be opened for reading is written without
// the lock; a missing folder fails the write.
class FolderLock {
public:
    explicit FolderLock(const char* path)
    {
        std::string p(path);
        size_t slash = p.rfind('/');
        std::string dir = slash == std::string::npos ? std::string(".")
            : slash == 0                             ? std::string("/")
                                                     : p.substr(0, slash);
        fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            missing_ = errno == ENOENT || errno == ENOTDIR;
            return;
        }
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool folder_missing() const { return missing_; }

private:
    int fd_ = -1;
    bool missing_ = false;
};

DWORD error_for_errno(int e) { return e == ENOSPC ? ERROR_DISK_FULL : vx::reg::save_error(e); }

// Reads, changes and atomically replaces the file under the write lock.
// A missing file is created only when create_if_missing is set; otherwise
// there is nothing to change and the call succeeds.
template <class Change> BOOL modify_file(const char* path, bool create_if_missing, Change change)
{
    std::lock_guard<std::mutex> guard(g_write_mutex);
    FolderLock lock(path);
    if (lock.folder_missing()) {
        set_error(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string text;
    ReadResult r = read_file(path, text);
    if (r == ReadResult::Failed) {
        set_error(error_for_errno(errno));
        return FALSE;
    }
    bool existed = r == ReadResult::Ok;
    if (!existed && !create_if_missing) {
        set_error(0);
        return TRUE;
    }
    struct stat st {};
    int mode = vx::reg::kDefaultMode;
    if (existed && stat(path, &st) == 0)
        mode = static_cast<int>(st.st_mode & 07777);
    Doc doc;
    doc.parse(text);
    change(doc);
    std::string out = doc.serialise();
    bool ok = true;
    int e = 0;
    if (out != text || !existed) {
        // On the disk before the rename: a crash never leaves an empty file
        // in place of the old one.
        ok = vx::reg::replace_file(path, out, mode, true);
        e = errno;
    }
    set_error(ok ? 0 : error_for_errno(e));
    return ok ? TRUE : FALSE;
}

bool valid_section_name(LPCSTR s) { return !has_line_break(s); }

bool valid_key_name(LPCSTR k)
{
    std::string_view t = trim(k);
    return !has_line_break(k) && std::strchr(k, '=') == nullptr && !t.empty() && t[0] != ';' && t[0] != '[';
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                               LPCSTR file_name)
{
    std::shared_ptr<const Doc> parsed = load_for_read(file_name);
    const Doc& doc = *parsed;
    if (!buffer || size == 0)
        return 0;
    std::string def = default_value ? default_value : "";
    while (!def.empty() && def.back() == ' ')
        def.pop_back();
    if (!section)
        return copy_list(section_names(doc), buffer, size);
    std::string_view sec = trim(section);
    if (!key) {
        std::vector<std::string> keys = key_names(doc, sec);
        if (!keys.empty())
            return copy_list(keys, buffer, size);
        DWORD n = copy_text(strip_quotes(def), buffer, size);
        if (n == 0 && size >= 2)
            buffer[1] = '\0';
        return n;
    }
    const Line* line = doc.find_key(sec, trim(key));
    return copy_text(strip_quotes(line ? line->value() : std::string_view(def)), buffer, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT default_value, LPCSTR file_name)
{
    std::shared_ptr<const Doc> parsed = load_for_read(file_name);
    const Doc& doc = *parsed;
    if (!section || !key)
        return static_cast<UINT>(default_value);
    const Line* line = doc.find_key(trim(section), trim(key));
    if (!line)
        return static_cast<UINT>(default_value);
    std::string_view v = strip_quotes(line->value());
    if (v.empty())
        return static_cast<UINT>(default_value);
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        negative = v[i++] == '-';
    uint32_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = n * 10u + static_cast<uint32_t>(v[i] - '0');
    if (negative)
        return 0;
    return n;
}

DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file_name)
{
    std::shared_ptr<const Doc> parsed = load_for_read(file_name);
    const Doc& doc = *parsed;
    std::vector<std::string> entries;
    long s = section ? doc.find_section(trim(section)) : -1;
    if (s >= 0) {
        size_t end = doc.section_end(static_cast<size_t>(s));
        for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i)
            if (doc.lines[i].kind == Line::Key)
                entries.push_back(std::string(doc.lines[i].name()) + "=" + std::string(doc.lines[i].value()));
    }
    return copy_list(entries, buffer, size);
}

DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR file_name)
{
    std::shared_ptr<const Doc> parsed = load_for_read(file_name);
    const Doc& doc = *parsed;
    return copy_list(section_names(doc), buffer, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file_name)
{
    if (!file_name || !*file_name) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!section) {
        // Windows flushes its cache for (NULL, NULL, NULL); nothing is cached here.
        set_error(key || value ? ERROR_INVALID_PARAMETER : 0);
        return key || value ? FALSE : TRUE;
    }
    if (!valid_section_name(section) || (key && !valid_key_name(key)) || (value && has_line_break(value))) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string sec(trim(section));
    if (!key)
        return modify_file(file_name, false, [&](Doc& d) { d.erase_sections(sec); });
    std::string k(trim(key));
    if (!value)
        return modify_file(file_name, false, [&](Doc& d) { d.delete_key(sec, k); });
    std::string v(value);
    return modify_file(file_name, true, [&](Doc& d) { d.set_key(sec, k, v); });
}

BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR entries, LPCSTR file_name)
{
    if (!file_name || !*file_name || !section || !valid_section_name(section)) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string sec(trim(section));
    if (!entries)
        return modify_file(file_name, false, [&](Doc& d) { d.erase_sections(sec); });
    std::vector<std::string> list;
    for (const char* p = entries; *p; p += std::strlen(p) + 1) {
        if (has_line_break(p)) {
            set_error(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        list.emplace_back(p);
    }
    return modify_file(file_name, true, [&](Doc& d) { d.replace_section(sec, list); });
}
