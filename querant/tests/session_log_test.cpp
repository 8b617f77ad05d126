// A session that cannot be opened: the line on standard output and in
// "session.log" beside the program, appended per failure.
#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"

#include <qm/log_file.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

using namespace querant;

TEST(SessionLog, EveryFailedOpenAppendsItsLine)
{
    const std::string path = GetProgramDirectory() + "session.log";
    std::remove(path.c_str());
    snmp_manager_t engine; // the platform is NT: five manager-library workers
    ASSERT_EQ(engine.platform(), static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(snmp_nt_t::live_count(), 5);
    engine.timeout(-20);
    engine.start();
    testing::internal::CaptureStdout();
    auto first = engine.get("127.0.0.2", "1.3.6.1.2.1.1.5.0");
    auto second = engine.get("127.0.0.3", "1.3.6.1.2.1.1.5.0");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(first->valid);
    const std::regex line(R"(\d{4}/\d{1,2}/\d{1,2},\d{1,2}:\d{1,2}:\d{1,2}\.\d{1,3}: GetLastError = 10055,)"
                          R"(IP = \[127\.0\.0\.2\],user=\[quenmil\],timeout = \[0\],retry_count = \[3\])"
                          R"(  Snmp session creation fails, error in snmp_nt_t::open_session \(\))");
    EXPECT_TRUE(std::regex_match(first->value, line)) << first->value;
    EXPECT_NE(out.find(first->value), std::string::npos);

    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(content.str(), first->value + "\n" + second->value + "\n");

    // A line stops at 999 characters, however long the community.
    engine.user(std::string(1200, 'u'));
    testing::internal::CaptureStdout();
    auto long_line = engine.get("127.0.0.2", "1.3.6.1.2.1.1.5.0");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(long_line->value.size(), 999u);
    EXPECT_NE(long_line->value.find("user=[uuuu"), std::string::npos);
    std::remove(path.c_str());
}

TEST(SessionLog, LibrariesAreLoadedByTheFirstInstanceAndFreedByTheLast)
{
    {
        snmp_manager_t engine;
        EXPECT_EQ(snmp_nt_t::live_count(), 5);
        EXPECT_NE(GetModuleHandleA("mgmtapi.dll"), nullptr);
    }
    EXPECT_EQ(snmp_nt_t::live_count(), 0);
    snmp_manager_t again;
    EXPECT_EQ(snmp_nt_t::live_count(), 5);
}
