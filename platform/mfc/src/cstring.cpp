#include "mfc/cstring.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
size_t Clamp(int v, size_t hi) { return v < 0 ? 0 : std::min(static_cast<size_t>(v), hi); }
} // namespace

CString CString::Left(int n) const { return CString(s_.substr(0, Clamp(n, s_.size()))); }
CString CString::Right(int n) const
{
    size_t k = Clamp(n, s_.size());
    return CString(s_.substr(s_.size() - k));
}
CString CString::Mid(int first) const { return CString(s_.substr(Clamp(first, s_.size()))); }
CString CString::Mid(int first, int n) const
{
    size_t f = Clamp(first, s_.size());
    return CString(s_.substr(f, Clamp(n, s_.size() - f)));
}

int CString::Find(char c, int start) const
{
    if (start < 0 || static_cast<size_t>(start) >= s_.size())
        return -1;
    size_t p = s_.find(c, static_cast<size_t>(start));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
int CString::Find(const char* sub, int start) const
{
    if (!sub || start < 0 || static_cast<size_t>(start) > s_.size())
        return -1;
    size_t p = s_.find(sub, static_cast<size_t>(start));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
int CString::ReverseFind(char c) const
{
    size_t p = s_.rfind(c);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}
int CString::FindOneOf(const char* set) const
{
    if (!set)
        return -1;
    size_t p = s_.find_first_of(set);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < s_.size() && IsSpace(s_[i]))
        ++i;
    s_.erase(0, i);
    return *this;
}
CString& CString::TrimLeft(char c)
{
    size_t i = 0;
    while (i < s_.size() && s_[i] == c)
        ++i;
    s_.erase(0, i);
    return *this;
}
CString& CString::TrimLeft(const char* set)
{
    if (!set)
        return *this;
    size_t p = s_.find_first_not_of(set);
    s_.erase(0, p == std::string::npos ? s_.size() : p);
    return *this;
}
CString& CString::TrimRight()
{
    while (!s_.empty() && IsSpace(s_.back()))
        s_.pop_back();
    return *this;
}
CString& CString::TrimRight(char c)
{
    while (!s_.empty() && s_.back() == c)
        s_.pop_back();
    return *this;
}
CString& CString::TrimRight(const char* set)
{
    if (!set)
        return *this;
    size_t p = s_.find_last_not_of(set);
    s_.erase(p == std::string::npos ? 0 : p + 1);
    return *this;
}
CString& CString::MakeUpper()
{
    for (auto& c : s_)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}
CString& CString::MakeLower()
{
    for (auto& c : s_)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}
CString& CString::MakeReverse()
{
    std::reverse(s_.begin(), s_.end());
    return *this;
}
int CString::Replace(char from, char to)
{
    int n = 0;
    for (auto& c : s_)
        if (c == from) {
            c = to;
            ++n;
        }
    return n;
}
int CString::Replace(const char* from, const char* to)
{
    if (!from || !*from)
        return 0;
    std::string f(from), t(to ? to : "");
    int n = 0;
    for (size_t p = s_.find(f); p != std::string::npos; p = s_.find(f, p + t.size())) {
        s_.replace(p, f.size(), t);
        ++n;
    }
    return n;
}
int CString::Remove(char c)
{
    size_t before = s_.size();
    s_.erase(std::remove(s_.begin(), s_.end(), c), s_.end());
    return static_cast<int>(before - s_.size());
}
int CString::Insert(int index, char c)
{
    s_.insert(Clamp(index, s_.size()), 1, c);
    return GetLength();
}
int CString::Insert(int index, const char* s)
{
    if (s)
        s_.insert(Clamp(index, s_.size()), s);
    return GetLength();
}
int CString::Delete(int index, int count)
{
    size_t i = Clamp(index, s_.size());
    s_.erase(i, Clamp(count, s_.size() - i));
    return GetLength();
}

int CString::Compare(const char* other) const { return std::strcmp(s_.c_str(), other ? other : ""); }
int CString::CompareNoCase(const char* other) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(s_.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other ? other : "");
    for (;; ++a, ++b) {
        int ca = std::tolower(*a), cb = std::tolower(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!ca)
            return 0;
    }
}

void CString::FormatV(const char* fmt, va_list args)
{
    if (!fmt) {
        s_.clear();
        return;
    }
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) {
        s_.clear();
        return;
    }
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    s_.assign(buf.data(), static_cast<size_t>(n));
}
void CString::Format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    FormatV(fmt, ap);
    va_end(ap);
}
void CString::AppendFormat(const char* fmt, ...)
{
    CString tail;
    va_list ap;
    va_start(ap, fmt);
    tail.FormatV(fmt, ap);
    va_end(ap);
    s_ += tail.s_;
}

char* CString::GetBuffer(int min_len)
{
    size_t want = min_len > 0 ? static_cast<size_t>(min_len) : 0;
    if (s_.size() < want)
        s_.resize(want, '\0');
    // Room for the terminator the caller may write at [min_len].
    s_.reserve(s_.size() + 1);
    return s_.data();
}
char* CString::GetBufferSetLength(int len)
{
    s_.resize(len > 0 ? static_cast<size_t>(len) : 0, '\0');
    return s_.data();
}
void CString::ReleaseBuffer(int new_len)
{
    if (new_len < 0) {
        s_.resize(std::strlen(s_.c_str()));
    } else {
        s_.resize(std::min(static_cast<size_t>(new_len), s_.size()));
    }
}
