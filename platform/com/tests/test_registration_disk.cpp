// regsvr when the registry cannot be saved: beside the result it says which
// file could not be written and why. Needs root for the small disk.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <full_disk.h>

TEST(RegistrationFailure, RegsvrSaysWhichFileAndWhy)
{
    std::string tmpl = "/tmp/vx_com_regdisk_XXXXXX";
    const std::string dir = mkdtemp(tmpl.data());
    struct cleanup {
        const std::string& dir;
        ~cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    std::ofstream(dir + "/file") << "x";
    const struct {
        const char* config; // XDG_CONFIG_HOME below dir
        const char* reason;
    } cases[] = {{"/file/config", "Not a directory"},
                 {"/config", "No space left on device"},
                 {"/config", "Read-only file system"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string config = dir + c.config, reason = c.reason;
        std::unique_ptr<vx::test::full_disk> disk;
        if (reason != "Not a directory") {
            disk = std::make_unique<vx::test::full_disk>(config, 64 * 1024);
            if (!disk->ok())
                GTEST_SKIP() << disk->error();
            if (reason == "No space left on device")
                disk->fill();
            else
                ASSERT_TRUE(disk->read_only(true));
        }
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const std::string out_file = dir + "/out";
        const int status =
            std::system((std::string(VX_REGSVR_EXE) + " " + VX_TESTSRV_LIB + " >" + out_file + " 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        std::stringstream out;
        out << std::ifstream(out_file).rdbuf();
        EXPECT_EQ(out.str(),
                  std::string("DllRegisterServer ") + VX_TESTSRV_LIB + ": 0x80040201\nregsvr: Registry file " + config +
                      "/veltrix/user.reg could not be written: " + reason + "\n");
    }
}
