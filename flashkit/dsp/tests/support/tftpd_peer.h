// Test support: tftpd-hpa serving a folder as a device's files, started in
// the calling process's network namespace on 0.0.0.0:69 (so every loopback
// address is a device), stopped by the destructor. Files it serves must be
// whole 512-byte blocks: it ends a read after a short block, the devices
// only on an empty one.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vx::test {

class tftpd_peer {
public:
    explicit tftpd_peer(const std::string& folder)
    {
        pid = ::fork();
        if (pid == 0) {
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl("/usr/sbin/in.tftpd", "in.tftpd", "-4", "-l", "-L", "-c", "-p", "-u", "root", "-s",
                    folder.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
            std::ifstream udp("/proc/net/udp");
            std::stringstream text;
            text << udp.rdbuf();
            if (text.str().find("00000000:0045 ") != std::string::npos) {
                ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~tftpd_peer()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    tftpd_peer(const tftpd_peer&) = delete;
    tftpd_peer& operator=(const tftpd_peer&) = delete;

    bool ready = false;

private:
    pid_t pid = -1;
};

} // namespace vx::test
