#include "qm/console.h"

#include <windows.h>

#include <cstdlib>

namespace qm {
namespace {

void write_out(const char* data, std::size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, static_cast<DWORD>(length), &written, nullptr);
}

} // namespace

console_streambuf_t::console_streambuf_t() : area(new char[buffer_size])
{
    // No put area for the stream: every insert comes through the overrides.
    setp(nullptr, nullptr);
}

console_streambuf_t::~console_streambuf_t()
{
    std::lock_guard<std::mutex> guard(lock);
    sync_locked();
    delete[] area;
}

void console_streambuf_t::sync_locked()
{
    if (used > 0)
        write_out(area, used);
    used = 0;
}

void console_streambuf_t::put_locked(char c)
{
    if (used < buffer_size) {
        area[used++] = c;
        return;
    }
    // A full area goes out in one write, the character in its own.
    sync_locked();
    write_out(&c, 1);
}

console_streambuf_t::int_type console_streambuf_t::overflow(int_type c)
{
    std::lock_guard<std::mutex> guard(lock);
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        sync_locked();
        return traits_type::not_eof(c);
    }
    put_locked(traits_type::to_char_type(c));
    return c;
}

int console_streambuf_t::sync()
{
    std::lock_guard<std::mutex> guard(lock);
    sync_locked();
    return 0;
}

std::streamsize console_streambuf_t::xsputn(const char* s, std::streamsize n)
{
    std::lock_guard<std::mutex> guard(lock);
    for (std::streamsize i = 0; i < n; ++i)
        put_locked(s[i]);
    return n;
}

console_t::console_t() : std::basic_iostream<char>(nullptr) { rdbuf(&buffer); }

console_t::~console_t() { buffer.pubsync(); }

console_t& console()
{
    // Never destroyed, so writers running during process exit still find it;
    // what is left in its buffer goes out at exit.
    static console_t* instance = [] {
        console_t* created = new console_t;
        std::atexit([] { console().flush(); });
        return created;
    }();
    return *instance;
}

namespace {
// The stream exists before the program's own code runs.
[[maybe_unused]] const bool console_created = (console(), true);
} // namespace

} // namespace qm
