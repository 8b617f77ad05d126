// CString: the byte-string class of the dialog layer. Text is UTF-8 "ANSI";
// lengths and positions count bytes, as the ANSI build counts chars.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "mfc/winui.h"

class CString {
public:
    CString() = default;
    CString(const char* s) : s_(s ? s : "") {}
    CString(const char* s, int n) : s_(s ? std::string(s, n > 0 ? static_cast<size_t>(n) : 0) : std::string()) {}
    CString(char c, int repeat = 1) : s_(repeat > 0 ? static_cast<size_t>(repeat) : 0, c) {}
    CString(const std::string& s) : s_(s) {}
    CString(std::string&& s) : s_(std::move(s)) {}
    CString(std::string_view s) : s_(s) {}

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }
    char GetAt(int i) const { return s_.at(static_cast<size_t>(i)); }
    void SetAt(int i, char c) { s_.at(static_cast<size_t>(i)) = c; }
    char operator[](int i) const { return GetAt(i); }

    operator const char*() const { return s_.c_str(); }
    const char* GetString() const { return s_.c_str(); }
    const std::string& str() const { return s_; }
    std::string& str() { return s_; }

    CString Left(int n) const;
    CString Right(int n) const;
    CString Mid(int first) const;
    CString Mid(int first, int n) const;

    int Find(char c, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char c) const;
    int FindOneOf(const char* set) const;

    CString& TrimLeft();
    CString& TrimLeft(char c);
    CString& TrimLeft(const char* set);
    CString& TrimRight();
    CString& TrimRight(char c);
    CString& TrimRight(const char* set);
    CString& Trim()
    {
        TrimRight();
        return TrimLeft();
    }
    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    int Replace(char from, char to);
    int Replace(const char* from, const char* to);
    int Remove(char c);
    int Insert(int index, char c);
    int Insert(int index, const char* s);
    int Delete(int index, int count = 1);

    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;

    void Format(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* fmt, va_list args);
    void AppendFormat(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Buffer access: GetBuffer gives room for at least min_len chars plus the
    // terminator; ReleaseBuffer(-1) takes the length up to the first zero byte.
    char* GetBuffer(int min_len = 0);
    char* GetBufferSetLength(int len);
    void ReleaseBuffer(int new_len = -1);

    CString& operator=(const char* s)
    {
        s_ = s ? s : "";
        return *this;
    }
    CString& operator=(const std::string& s)
    {
        s_ = s;
        return *this;
    }
    CString& operator=(char c)
    {
        s_.assign(1, c);
        return *this;
    }
    CString& operator+=(const CString& s)
    {
        s_ += s.s_;
        return *this;
    }
    CString& operator+=(const char* s)
    {
        if (s)
            s_ += s;
        return *this;
    }
    CString& operator+=(char c)
    {
        s_ += c;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.s_ + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.s_); }
    friend CString operator+(const CString& a, char b) { return CString(a.s_ + b); }
    friend CString operator+(char a, const CString& b) { return CString(std::string(1, a) + b.s_); }

    friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
    friend bool operator==(const CString& a, const char* b) { return a.s_ == (b ? b : ""); }
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }
    friend bool operator>(const CString& a, const CString& b) { return a.s_ > b.s_; }
    friend bool operator<=(const CString& a, const CString& b) { return a.s_ <= b.s_; }
    friend bool operator>=(const CString& a, const CString& b) { return a.s_ >= b.s_; }

private:
    std::string s_;
};
