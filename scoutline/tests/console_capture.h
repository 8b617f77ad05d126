// Standard output, where the console stream writes, caught in a file for the
// tests that check the engine's console texts.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace qm::vx::test {

// Standard output (where the console stream writes) into a file while alive.
class stdout_capture {
public:
    stdout_capture()
    {
        std::fflush(stdout);
        path = "/tmp/scoutline-console-" + std::to_string(getpid()) + ".txt";
        saved = dup(1);
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        dup2(fd, 1);
        close(fd);
    }
    ~stdout_capture()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::remove(path.c_str());
    }
    std::string text() const
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool wait_for(const std::string& needle, std::chrono::milliseconds timeout,
                  const std::function<void()>& meanwhile = {}) const
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            if (text().find(needle) != std::string::npos)
                return true;
            if (meanwhile)
                meanwhile();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return text().find(needle) != std::string::npos;
    }

private:
    std::string path;
    int saved = -1;
};

inline size_t count(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
        ++n;
    return n;
}

} // namespace qm::vx::test
