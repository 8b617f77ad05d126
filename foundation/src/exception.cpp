#include "qm/exception.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

namespace qm {

std::string vformat_511(const char* format, va_list args)
{
    char buffer[512];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return std::string();
    // vsnprintf already stops at 511 characters and terminates the buffer.
    return std::string(buffer, static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : 511);
}

exception_t::exception_t(const char* text) : message(text ? text : "") {}

exception_t::exception_t(std::string text) : message(std::move(text)) {}

std::string exception_t::formatted(const char* format, ...)
{
    if (!format)
        return std::string();
    va_list args;
    va_start(args, format);
    std::string text = vformat_511(format, args);
    va_end(args);
    return text;
}

const char* exception_t::what() const noexcept { return message.c_str(); }

namespace wapi {

std::string error_text(DWORD error)
{
    LPSTR buffer = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, error, 0x400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text;
    // System messages end with a line end: cut its two characters.
    if (length > 1 && buffer)
        text.assign(buffer, length - 2);
    if (buffer)
        LocalFree(buffer);
    return text;
}

std::string last_error_text()
{
    DWORD error = GetLastError();
    std::string text = error_text(error);
    if (text.empty()) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "WinAPI error# %d", static_cast<int>(error));
        text = buffer;
    }
    return text;
}

exception_t::exception_t() : error(GetLastError())
{
    SetLastError(error);
    message = last_error_text();
}

exception_t::exception_t(const char* context) : error(GetLastError())
{
    SetLastError(error);
    message = std::string(context ? context : "") + ": " + last_error_text();
}

exception_t::exception_t(const std::string& context) : exception_t(context.c_str()) {}

} // namespace wapi

namespace net {

exception_t::exception_t() : exception_t(WSAGetLastError()) {}

exception_t::exception_t(int error_number) : error(error_number) { message = error_name(error_number); }

} // namespace net
} // namespace qm
