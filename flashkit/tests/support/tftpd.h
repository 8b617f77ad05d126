// Test support: tftpd-hpa serving a folder on port 69 of every address of the
// caller's network namespace, as a child process.
#pragma once

#include <sys/types.h>

#include <string>

namespace vx::test {

class tftpd {
public:
    // resend_us: the server's first resend time in microseconds. Short, so
    // that a write of whole blocks (which ends, as on the devices, without an
    // empty block) has its session, and its last block, done soon after.
    tftpd(const std::string& folder, int resend_us);
    ~tftpd();
    tftpd(const tftpd&) = delete;
    tftpd& operator=(const tftpd&) = delete;

    bool running() const { return pid > 0; }

private:
    pid_t pid = -1;
};

} // namespace vx::test
