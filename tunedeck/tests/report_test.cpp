// Reports of devices served by snmpd: variables the device lacks, a failure
// inside one transmitter, a device name that points out of the folder, texts
// with line breaks, an abort before the start; and the report file's folder
// and name checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ReportFile.h"
#include "ReportWriter.h"
#include "SnmpSession.h"
#include "device_agent.h"
#include "report_files.h"

namespace {

// Requests wait as long as only a fault makes them: ten seconds, in hundredths.
constexpr int kPatient = 1000;

using tdtest::DeviceProfile;
using tdtest::E;
using tdtest::ExpectReport;
using tdtest::Instance;
using tdtest::ReadFile;
using tdtest::ScratchFolder;

const char kMissing[] = "127.0.0.41";      // no serial bridge, 19 audio map entries, no name
const char kChannelFails[] = "127.0.0.42"; // Tx 1's fourth SubMap answers a text
const char kOutside[] = "127.0.0.43";      // named "../outside/x"
const char kLineBreaks[] = "127.0.0.44";   // texts with line breaks

// A text as the octets of an SNMP string ("78 0a ...").
std::string Octets(const std::string& text)
{
    std::string hex;
    for (unsigned char c : text) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%s%02x", hex.empty() ? "" : " ", c);
        hex += pair;
    }
    return hex;
}

std::vector<std::string> MissingVariables()
{
    std::vector<std::string> gone;
    for (const char* serial : {".10.1.1.0", ".10.1.2.0", ".10.1.3.0", ".10.1.4.0", ".10.1.7.0"})
        gone.push_back(E + serial);
    for (int i = 20; i <= 64; ++i)
        gone.push_back(Instance(E + ".5.2.1.5", i));
    gone.push_back(Instance(E + ".9.3.3.1.2", 2));
    return gone;
}

class Report : public tdtest::AgentSuite<Report> {
public:
    static std::vector<DeviceProfile> Profiles()
    {
        return {
            {kMissing, 0, 1, {{"1.3.6.1.2.1.1.5.0", "string", "", "rw"}}, MissingVariables()},
            {kChannelFails, 2, 1, {{Instance(E + ".7.2.1.2", 1, 4), "string", "four", "rw"}}, {}},
            {kOutside, 1, 0, {{"1.3.6.1.2.1.1.5.0", "string", "../outside/x", "rw"}}, {}},
            {kLineBreaks,
             0,
             0,
             {{"1.3.6.1.2.1.1.1.0", "octet", Octets("Veltrix\r\nErrorCode,0")},
              {"1.3.6.1.2.1.1.5.0", "octet", Octets("rack\n1")},
              {"1.3.6.1.2.1.1.6.0", "octet", Octets("x\nErrorCount,0")},
              {"1.3.6.1.2.1.1.4.0", "octet", Octets("desk\r")}},
             {}},
        };
    }

protected:
    void Configure(CReportWriter& writer, const char* ip)
    {
        writer.SetClock(tdtest::ReportClock);
        writer.SetTimeout(kPatient);
        writer.SetIpAddress(ip);
        writer.SetFolder(folder.path.c_str());
    }
    ScratchFolder folder{"td-report-peer"};
};

TEST_F(Report, MissingVariablesReadNotAvailableAndTheMapEndsItsLine)
{
    CReportWriter writer;
    Configure(writer, kMissing);
    ASSERT_EQ(writer.WriteReport(1), 0);
    // No sysName: the file is named by the MAC address.
    EXPECT_EQ(writer.FilePath(), folder / "001_00602BFD0029.csv");
    ExpectReport(ReadFile(writer.FilePath()), "missing.csv");
}

TEST_F(Report, FirstFailureIsTheReportsAndLaterBundlesAreStillWritten)
{
    CReportWriter writer;
    Configure(writer, kChannelFails);
    EXPECT_EQ(writer.WriteReport(2), SNMPS_NO_FORM);
    ExpectReport(ReadFile(folder / "002_device-42.csv"), "first_failure.csv");
}

TEST_F(Report, DeviceNameStaysInsideTheFolder)
{
    CReportWriter writer;
    Configure(writer, kOutside);
    ASSERT_EQ(writer.WriteReport(3), 0);
    EXPECT_EQ(writer.FilePath(), folder / "003_.._outside_x.csv");
    EXPECT_FALSE(std::filesystem::exists(folder.path.parent_path() / "outside"));
    // A name given by the user is one name as well.
    writer.SetFileName("../../report.csv");
    ASSERT_EQ(writer.WriteReport(0), 0);
    EXPECT_EQ(writer.FilePath(), folder / ".._.._report.csv");
}

TEST_F(Report, DeviceTextsWriteNoLinesOfTheirOwn)
{
    CReportWriter writer;
    Configure(writer, kLineBreaks);
    ASSERT_EQ(writer.WriteReport(4), 0);
    EXPECT_EQ(writer.FilePath(), folder / "004_rack_1.csv");
    const std::string report = ReadFile(writer.FilePath());
    const size_t from = report.find("sysDescr,"), to = report.find("sysUpTime,");
    ASSERT_LT(from, to);
    EXPECT_EQ(report.substr(from, to - from),
              "sysDescr,Veltrix  ErrorCode,0\n"
              "IP,127.0.0.44\n"
              "MAC,00:60:2B:FD:00:2C\n"
              "Name,rack 1\n"
              "Location,x ErrorCount,0\n"
              "Contact,desk \n");
}

// An abort that comes before a report starts (between two devices of a run)
// is kept: the report stops before it makes its file.
TEST_F(Report, AbortBeforeTheStartIsNotLost)
{
    CReportWriter writer;
    Configure(writer, kOutside);
    writer.Abort();
    EXPECT_EQ(writer.WriteReport(1), CReportWriter::kUserAbort);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path));
    writer.ClearAbort();
    EXPECT_EQ(writer.WriteReport(1), 0);
}

TEST(ReportFile, FolderAndNameChecks)
{
    ScratchFolder folder("td-report-file");
    std::ofstream(folder / "plain") << "x";
    std::filesystem::create_directories(folder / "taken.csv");
    const std::string longName(CReportFile::kPathMax - folder.path.string().size(), 'n');
    const struct {
        std::string folder, name;
        int result;
    } cases[] = {
        {folder / "new/deeper", "r.csv", 0}, // missing folders are made
        {folder.path.string() + "/", "r.csv", 0},
        {"", "r.csv", REPORT_BAD_PATH},
        {folder.path.string(), "", REPORT_BAD_PATH},
        {folder.path.string(), longName, REPORT_BAD_PATH},
        {folder.path.string(), longName.substr(1), 0},
        {folder / "plain", "r.csv", REPORT_NOT_FOLDER},
        {folder / "plain/below", "r.csv", REPORT_NOT_FOLDER},
        {"/proc/vx-no-such/folder", "r.csv", REPORT_NO_FOLDER},
        {folder.path.string(), "taken.csv", REPORT_OPEN_FAILED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + " | " + c.name.substr(0, 20));
        CReportFile file;
        EXPECT_EQ(file.Open(c.folder, c.name), c.result);
        if (c.result == 0) {
            EXPECT_EQ(file.Write("a,"), 0);
            EXPECT_EQ(file.EndLine(), 0);
            EXPECT_EQ(file.EndLine(), 0); // a line is ended once
            EXPECT_EQ(file.Close(), 0);
            EXPECT_EQ(ReadFile(file.Path()), "a,\n");
        }
    }
}

TEST(ReportFile, SafeNames)
{
    EXPECT_EQ(SafeFileName("rack 1/left\\a\x01\x7f"), "rack 1_left_a__");
    EXPECT_EQ(SafeFileName(".."), "");
    EXPECT_EQ(SafeFileName("."), "");
    EXPECT_EQ(SafeFileName("...csv"), "...csv");
}

} // namespace
