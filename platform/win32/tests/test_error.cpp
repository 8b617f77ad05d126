// Last error, errno mapping, system texts, standard output, calendar time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "win32/console.h"
#include "win32/error.h"
#include "win32/systime.h"
#include "winsock2.h"

namespace {

// The text FormatMessageA gives for n, as the callers use it; "" when none.
std::string system_text(DWORD n, DWORD* length_out = nullptr)
{
    LPSTR text = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, n, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length_out)
        *length_out = length;
    std::string out = text ? std::string(text, length) : std::string();
    LocalFree(text);
    return out;
}

TEST(LastError, IsPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD in_other = 1;
    std::thread([&] {
        in_other = GetLastError();
        SetLastError(ERROR_INVALID_PARAMETER);
    }).join();
    EXPECT_EQ(in_other, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    WSASetLastError(WSAETIMEDOUT);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAETIMEDOUT)); // one value, as on Windows
}

TEST(LastError, ALeftoverErrnoNeverShows)
{
    // A C library call that failed earlier, or one that succeeded but touched
    // errno, leaves the thread's last error as it was.
    SetLastError(ERROR_NO_MORE_ITEMS);
    FILE* f = std::fopen("/nonexistent-dir-for-win32-test/file", "rb");
    ASSERT_EQ(f, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    SetLastError(0);
    errno = EACCES;
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(WSAGetLastError(), 0);
    std::thread([] { errno = ENOENT; }).join();

    // Mapping errno is explicit.
    vx_set_last_error_from_errno();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // A failed bind reads as a WinSock number once mapped.
    int a = ::socket(AF_INET, SOCK_DGRAM, 0);
    int b = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(a, reinterpret_cast<sockaddr*>(&addr), &len);
    SetLastError(0);
    ASSERT_NE(::bind(b, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(WSAGetLastError(), 0);
    vx_set_wsa_error_from_errno();
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    ::close(a);
    ::close(b);
}

TEST(ErrnoMapping, WinSockNumbersAreTheBsdOnes)
{
    struct {
        int err;
        int wsa;
    } cases[] = {
        {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061}, {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
        {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},     {ENOTSOCK, 10038},
        {EMSGSIZE, 10040},        {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ECONNRESET, 10054},
        {ENOBUFS, 10055},         {EISCONN, 10056},      {ENOTCONN, 10057},     {EHOSTUNREACH, 10065},
        {EINTR, 10004},           {EINVAL, 10022},       {EACCES, 10013},       {EAFNOSUPPORT, 10047},
        {EPROTONOSUPPORT, 10043}, {EOPNOTSUPP, 10045},   {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
        {ELOOP, 10062},           {ENOTEMPTY, 10066},    {EDQUOT, 10069},       {ESTALE, 10070},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vx_wsa_error_from_errno(c.err), c.wsa) << "errno " << c.err;
    EXPECT_EQ(vx_wsa_error_from_errno(0), 0);
    // No WinSock name: the Win32 number.
    EXPECT_EQ(vx_wsa_error_from_errno(ENOENT), static_cast<int>(ERROR_FILE_NOT_FOUND));
}

TEST(ErrnoMapping, Win32NumbersAndUnmappedErrnos)
{
    EXPECT_EQ(vx_win32_error_from_errno(0), 0u);
    EXPECT_EQ(vx_win32_error_from_errno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(vx_win32_error_from_errno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(vx_win32_error_from_errno(ENOMEM), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(vx_win32_error_from_errno(EINVAL), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(vx_win32_error_from_errno(EEXIST), static_cast<DWORD>(ERROR_FILE_EXISTS));
    // EAGAIN (11) has no Win32 counterpart and must not read as ERROR_BAD_FORMAT (11).
    DWORD again = vx_win32_error_from_errno(EAGAIN);
    EXPECT_NE(again, static_cast<DWORD>(EAGAIN));
    EXPECT_EQ(system_text(again), std::string(strerrordesc_np(EAGAIN)) + "\r\n");
}

TEST(FormatMessage, SystemTextsEndWithALineEndAndUnknownNumbersGiveNothing)
{
    DWORD length = 0;
    std::string two = system_text(ERROR_FILE_NOT_FOUND, &length);
    EXPECT_EQ(two, std::string(strerrordesc_np(ENOENT)) + "\r\n");
    EXPECT_EQ(length, two.size());
    // Every number this layer sets has a text.
    for (DWORD n : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER,
                    ERROR_TOO_MANY_POSTS, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, ERROR_IO_PENDING,
                    ERROR_IO_INCOMPLETE, ERROR_OPERATION_ABORTED, ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_SUPPORTED,
                    ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ERROR_RESOURCE_TYPE_NOT_FOUND}) {
        std::string t = system_text(n);
        EXPECT_GT(t.size(), 2u) << n;
        EXPECT_EQ(t.substr(t.size() - 2), "\r\n") << n;
    }
    // WinSock numbers: the matching errno text; name-service numbers have texts too.
    EXPECT_EQ(system_text(WSAETIMEDOUT), std::string(strerrordesc_np(ETIMEDOUT)) + "\r\n");
    EXPECT_FALSE(system_text(WSAHOST_NOT_FOUND).empty());

    SetLastError(0);
    LPSTR text = nullptr;
    EXPECT_EQ(
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, 1234, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr),
        0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(system_text(10999), "");      // inside the WinSock range, but no such error
    EXPECT_EQ(system_text(0x20000302), ""); // an application code

    // Into a caller's buffer.
    char small[4];
    EXPECT_EQ(
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, small, sizeof small, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char big[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, big, sizeof big, nullptr);
    EXPECT_EQ(std::string(big, n), two);
}

TEST(LocalMemory, AllocZeroesOnRequest)
{
    auto* p = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(p[i], 0);
    EXPECT_EQ(LocalFree(p), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(Console, WriteFileGoesToStandardOutput)
{
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    std::fflush(stdout);
    int saved = ::dup(1);
    ::dup2(pipes[1], 1);
    EXPECT_TRUE(AllocConsole());
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    BOOL ok = WriteFile(out, "hello", 5, &written, nullptr);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(pipes[1]);
    char buffer[16] = {};
    ssize_t n = ::read(pipes[0], buffer, sizeof buffer);
    ::close(pipes[0]);
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "hello");
    EXPECT_TRUE(CloseHandle(out)); // a pseudo-handle: nothing happens
    EXPECT_TRUE(FreeConsole());
    EXPECT_FALSE(WriteFile(GetStdHandle(STD_INPUT_HANDLE), "x", 1, &written, nullptr));
}

TEST(Time, LocalAndSystemTimeAgreeWithTheCLibrary)
{
    SYSTEMTIME local, utc;
    GetLocalTime(&local);
    GetSystemTime(&utc);
    time_t now = time(nullptr);
    tm t;
    gmtime_r(&now, &t);
    EXPECT_EQ(utc.wYear, t.tm_year + 1900);
    EXPECT_GE(utc.wMonth, 1);
    EXPECT_LE(utc.wMonth, 12);
    EXPECT_EQ(utc.wDayOfWeek, t.tm_wday); // (a midnight crossing between the calls is a ~1e-5 chance)
    EXPECT_LT(utc.wMilliseconds, 1000);
    localtime_r(&now, &t);
    EXPECT_EQ(local.wDay, t.tm_mday);
    EXPECT_EQ(local.wHour, t.tm_hour);
}

} // namespace
