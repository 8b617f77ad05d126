// Exception family of the company library. Every exception carries its final,
// human-readable text, so a catcher can report any failure through what().
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>

namespace qm {

class exception_t : public std::exception {
public:
    exception_t() = default;
    // Plain text: the message is the text as given, never read as a format.
    explicit exception_t(const char* text);
    explicit exception_t(std::string text);
    // printf-style: the message is the formatted text cut to 511 characters.
    // Only chosen when there are arguments after the format, so runtime text
    // passed alone always takes the plain constructor above.
    template <typename... Args>
    requires(sizeof...(Args) > 0) exception_t(const char* format, Args... args) : message(formatted(format, args...))
    {
        static_assert(((std::is_arithmetic_v<Args> || std::is_pointer_v<Args> || std::is_enum_v<Args> ||
                        std::is_null_pointer_v<Args>)&&...),
                      "printf-style arguments must be numbers, enums or pointers");
    }

    ~exception_t() override = default;
    const char* what() const noexcept override;

    std::string message;

protected:
    static std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

namespace wapi {

// System text for a Win32 error number without its line end; empty when the
// system has none.
std::string error_text(DWORD error);
// error_text of GetLastError, or "WinAPI error# %d" when there is no text.
std::string last_error_text();

class exception_t : public qm::exception_t {
public:
    // error = GetLastError, message = its text.
    exception_t();
    // message = context + ": " + text of GetLastError.
    explicit exception_t(const char* context);
    explicit exception_t(const std::string& context);

    uint32_t error = 0;
};

} // namespace wapi

namespace proc {

class exception_t : public qm::exception_t {
public:
    explicit exception_t(const char* text) : qm::exception_t(text) {}
    explicit exception_t(std::string text) : qm::exception_t(std::move(text)) {}
};

// Thrown by the waits of thread_t once a stop was requested. Derives the root
// directly so that a handler for proc::exception_t does not catch it.
class thread_stop_exception_t : public qm::exception_t {
public:
    thread_stop_exception_t() : qm::exception_t("thread stop signaled") {}
};

} // namespace proc

namespace net {

// Short name of a WinSock error number ("connection timed out", ...).
std::string error_name(int error);

class exception_t : public qm::exception_t {
public:
    // error = WSAGetLastError, message = error_name of it.
    exception_t();
    // The same for a WinSock number already known to the caller.
    explicit exception_t(int error);

    int32_t error = 0;
};

} // namespace net

// Formats into a string cut to 511 characters (shared by the formatting helpers).
std::string vformat_511(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

} // namespace qm
