#include "tftpd.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace vx::test
