// Test support: tftpd-hpa serving a folder on port 69 of every address of the
// caller's network namespace, as a child process.
#pragma once

#include <sys/types.h>

#include <string>

namespace vx::test {

class tftpd {
public:
    // resend_us: the server's first resend time in microseconds; it gives up
    // after about 31 times that without an answer. A write of whole blocks
    // (which ends, as on the devices, without an empty block) keeps its file
    // locked until that first resend finds the client gone, and a read of
    // the file meanwhile ends without an answer.
    tftpd(const std::string& folder, int resend_us);
    ~tftpd();
    tftpd(const tftpd&) = delete;
    tftpd& operator=(const tftpd&) = delete;

    bool running() const { return pid > 0; }
    // Waits until the server listens on port 69 (false when it ended or
    // half a minute passed).
    bool wait_listening() const;

private:
    pid_t pid = -1;
};

} // namespace vx::test
