// Support for the tests of the server program: a private copy of the
// program (its folder holds VXHistory.ini and scoutline.log), registry and
// socket folders of its own, and a look at the running server processes.
#pragma once

#include <scoutline/com/interfaces.h>

#include <win32/registry.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace scoutline_test {

namespace fs = std::filesystem;

// A temporary folder with bin/scoutline (a copy of the built program),
// config/ and run/; the environment points XDG_CONFIG_HOME and
// XDG_RUNTIME_DIR at them, so the copy registers and listens there.
struct server_sandbox {
    server_sandbox()
    {
        char tmpl[] = "/tmp/scoutline_server_XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/bin");
        fs::create_directories(root + "/config");
        fs::create_directories(root + "/run");
        fs::permissions(root + "/run", fs::perms::owner_all, fs::perm_options::replace);
        program = root + "/bin/scoutline";
        fs::copy_file(SCOUTLINE_EXE, program);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        vx_registry_reset();
    }
    ~server_sandbox()
    {
        for (pid_t pid : server_pids())
            kill(pid, SIGKILL);
        vx_registry_reset();
        fs::remove_all(root);
    }

    // Runs the copy with the arguments; returns its exit status (-1 if it
    // did not exit normally) and its output.
    int run(const std::vector<std::string>& args, std::string* output = nullptr) const
    {
        std::string command = "'" + program + "'";
        for (const auto& a : args)
            command += " '" + a + "'";
        command += " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        std::string text;
        char buffer[256];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, n);
        const int status = pclose(pipe);
        if (output)
            *output = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Starts the copy with the arguments in the background, output to
    // /dev/null; it is killed when the test dies. Returns its process id.
    pid_t spawn(const std::vector<std::string>& args) const
    {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            const int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // Processes running this copy (zombies excluded).
    std::vector<pid_t> server_pids() const
    {
        std::vector<pid_t> pids;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code e2;
            if (fs::read_symlink(entry.path() / "exe", e2) != program)
                continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            const size_t paren = line.rfind(')');
            if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z' &&
                line[paren + 2] != 'X')
                pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        return pids;
    }

    // The single running server, or 0 (waits up to `wait` for one).
    pid_t server_pid(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) const
    {
        const auto end = std::chrono::steady_clock::now() + wait;
        for (;;) {
            auto pids = server_pids();
            if (pids.size() == 1)
                return pids[0];
            if (std::chrono::steady_clock::now() >= end)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Waits until no copy runs; the time it took, or -1 ms on time-out.
    std::chrono::milliseconds wait_for_exit(std::chrono::milliseconds limit) const
    {
        const auto start = std::chrono::steady_clock::now();
        while (!server_pids().empty()) {
            if (std::chrono::steady_clock::now() - start > limit)
                return std::chrono::milliseconds(-1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }

    // A value of the registry's classes root, read afresh from the hive file.
    bool classes_value(const std::string& key, const char* name, std::string& out) const
    {
        vx_registry_reset();
        return com::read_classes_value(key, name, out);
    }

    // Whether a key of the classes root exists, read afresh.
    bool classes_key(const std::string& key) const
    {
        vx_registry_reset();
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
            return false;
        RegCloseKey(h);
        return true;
    }

    std::string file(const std::string& name) const
    {
        std::ifstream in(root + "/bin/" + name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string root;
    std::string program;
};

} // namespace scoutline_test
