#include "tftpd.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace vx::test {

tftpd::tftpd(const std::string& folder, int resend_us)
{
    const std::string resend = std::to_string(resend_us);
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        // The server goes with its starter, even one killed outright.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        execl("/usr/sbin/in.tftpd", "in.tftpd", "-4", "-L", "-c", "-p", "-u", "root", "-T", resend.c_str(), "-s",
              folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

tftpd::~tftpd()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

bool tftpd::wait_listening() const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pid > 0 && std::chrono::steady_clock::now() < end) {
        std::ifstream in("/proc/net/udp");
        std::stringstream table;
        table << in.rdbuf();
        if (table.str().find(":0045 ") != std::string::npos) // local port 69, in hex
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace vx::test
