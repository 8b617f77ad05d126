// Console stream: text for the process's standard output, written in loads of
// at most 80 characters, flushed by std::endl or an explicit flush.
#pragma once

#include "qm/exception.h"

#include <istream>
#include <mutex>
#include <ostream>
#include <streambuf>

namespace qm {

// The put area is kept private (the stream sees no buffer), so every insert
// passes through the locked overrides and several threads may write at once;
// their lines may still interleave.
class console_streambuf_t : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t buffer_size = 80;

    console_streambuf_t();
    ~console_streambuf_t() override;

protected:
    int_type overflow(int_type c) override;
    int sync() override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    void put_locked(char c);
    void sync_locked();

    std::mutex lock;
    char* area = nullptr;
    std::size_t used = 0;
};

class console_t : public std::basic_iostream<char> {
public:
    console_t();
    ~console_t() override;

private:
    console_streambuf_t buffer;
};

// The process-wide console stream.
console_t& console();

} // namespace qm
