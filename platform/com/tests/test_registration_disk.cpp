// regsvr when the registry cannot be saved: beside the result it says which
// file could not be written and why, for a full disk, a read-only file system
// and a configuration path that is a file. Needs root for the small disk.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <full_disk.h>

namespace {

// Runs the command; its exit status and what it wrote to both streams.
int run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegistrationFailure, RegsvrSaysWhichFileAndWhy)
{
    std::string tmpl = "/tmp/vx_com_regdisk_XXXXXX";
    const std::string dir = mkdtemp(tmpl.data());
    std::ofstream(dir + "/file") << "x";
    enum class how { config_is_a_file, full, read_only };
    const struct {
        how setup;
        const char* config; // XDG_CONFIG_HOME below dir
        const char* reason;
    } cases[] = {
        {how::config_is_a_file, "/file/config", "Not a directory"},
        {how::full, "/config", "No space left on device"},
        {how::read_only, "/config", "Read-only file system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string config = dir + c.config;
        std::unique_ptr<vx::test::full_disk> disk;
        if (c.setup != how::config_is_a_file) {
            disk = std::make_unique<vx::test::full_disk>(config, 64 * 1024);
            if (!disk->ok()) {
                std::filesystem::remove_all(dir);
                GTEST_SKIP() << disk->error();
            }
            if (c.setup == how::full)
                disk->fill();
            else
                ASSERT_TRUE(disk->read_only(true));
        }
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        std::string out;
        EXPECT_EQ(run(std::string(VX_REGSVR_EXE) + " " + VX_TESTSRV_LIB, out), 1);
        EXPECT_NE(out.find(std::string("DllRegisterServer ") + VX_TESTSRV_LIB + ": 0x80040201\n"), std::string::npos)
            << out;
        EXPECT_NE(
            out.find("regsvr: Registry file " + config + "/veltrix/user.reg could not be written: " + c.reason + "\n"),
            std::string::npos)
            << out;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
