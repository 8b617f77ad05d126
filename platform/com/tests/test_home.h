// A fresh folder per test program for the user registry (config/) and the
// server sockets (run/).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

inline std::string make_test_home(const std::string& name)
{
    std::string tmpl = "/tmp/vx_com_" + name + "_XXXXXX";
    std::string dir = mkdtemp(tmpl.data());
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    std::filesystem::create_directories(dir + "/run");
    return dir;
}
