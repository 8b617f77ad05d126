// Reports of the device simulator's devices over a veth pair: the files of
// devices with 1, 2, 16 and no transmitter bundles compared byte for byte,
// and the report worker's runs that end early (no device, a silent one, an
// abort halfway).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "ReportWorker.h"
#include "SnmpSession.h"
#include "ReportWriter.h"
#include "devsim_devices.h"
#include "report_files.h"

namespace {

using tdtest::ExpectReport;
using tdtest::ReadFile;
using tdtest::ScratchFolder;
using tdtest::kSimDevices;

const char* const kExpected[] = {"devsim_1x1.csv", "devsim_2x2.csv", "devsim_16x16.csv", "devsim_0x2.csv"};

std::string FileOf(int sequence, int device)
{
    char name[32];
    std::snprintf(name, sizeof name, "%03d_alder-%d.csv", sequence, device);
    return name;
}

// The console's selection as the callbacks hand it out.
struct Selection {
    int result;
    const char* ip;
};
std::vector<Selection> g_selection;
size_t g_cursor = 0;

int SelectNext(const char** ip, int)
{
    *ip = nullptr;
    if (g_cursor >= g_selection.size())
        return LAUNCH_SELECT_END;
    const Selection& s = g_selection[g_cursor++];
    *ip = s.ip;
    return s.result;
}

int SelectFirst(const char** ip, int all)
{
    g_cursor = 0;
    return SelectNext(ip, all);
}

// What the worker reports, collected from its thread.
class Recorder : public CReportWorker::Sink {
public:
    void OnRange(int steps) override { range = steps; }
    void OnProgress(const char* text) override
    {
        // The worker is aborted at the progress text ending with abortAt.
        const std::string t = text;
        if (!abortAt.empty() && t.ends_with(abortAt))
            worker->Abort();
    }
    void OnFinished(int r) override
    {
        std::lock_guard<std::mutex> hold(lock);
        result = r;
        finished = true;
        changed.notify_all();
    }
    // Waits for the run's end; its result, or -1 after the time-out.
    int Wait()
    {
        std::unique_lock<std::mutex> hold(lock);
        if (!changed.wait_for(hold, std::chrono::seconds(120), [this] { return finished; }))
            return -1;
        finished = false;
        return result;
    }

    CReportWorker* worker = nullptr;
    std::string abortAt;
    std::atomic<int> range{0};
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    int result = 0;
};

// Requests wait as long as only a fault makes them (in hundredths of a
// second). A run that must end at a silent device waits five seconds a
// request, twice: only the silent device comes near that.
constexpr int kPatient = 1000;
constexpr int kSilentRun = 500;

class DevsimReport : public tdtest::DevsimSuite {
protected:
    static LaunchBlock Block(int hundredths = kPatient)
    {
        LaunchBlock b{};
        b.ReadCommunity = "tagrok";
        b.WriteCommunity = "quenmil";
        b.GetFirst = SelectFirst;
        b.GetNext = SelectNext;
        b.Timeout = hundredths; // hundredths of a second for reports
        b.Retries = 1;
        b.Delay = 5;
        return b;
    }
};

TEST_F(DevsimReport, DevicesWithOneTwoSixteenAndNoTransmitters)
{
    ScratchFolder folder("td-report");
    CReportWriter writer;
    writer.SetClock(tdtest::ReportClock);
    writer.SetTimeout(kPatient);
    writer.SetRetries(2);
    writer.SetFolder(folder.path.c_str());
    std::vector<std::string> progress;
    writer.SetProgress([&](const char* text) { progress.push_back(text); });
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(kSimDevices[k].address);
        writer.SetIpAddress(kSimDevices[k].address);
        ASSERT_EQ(writer.WriteReport(k + 1), 0);
        EXPECT_EQ(writer.FilePath(), folder / FileOf(k + 1, k));
        ExpectReport(ReadFile(writer.FilePath()), kExpected[k]);
    }
    const std::string name = FileOf(1, 0);
    const std::vector<std::string> first(progress.begin(), progress.begin() + 6);
    EXPECT_EQ(first,
              (std::vector<std::string>{"Initializing", "Opening: " + name, "Writing: " + name + " (1)",
                                        "Writing: " + name + " (2)", "Writing: " + name + " (3)", "Closing: " + name}));
    EXPECT_EQ(progress.size(), 4u * CReportWorker::kStepsPerDevice);
}

TEST_F(DevsimReport, WorkerRunsEndAtAMissingOrSilentDeviceAndAtAnAbort)
{
    Recorder recorder;
    CReportWorker worker(recorder);
    recorder.worker = &worker;
    worker.SetClock(tdtest::ReportClock);
    worker.TakeSettings(Block());
    ASSERT_EQ(worker.Start(), 0);

    // No device that could be reported.
    g_selection = {{LAUNCH_SELECT_OFF_LINE, nullptr}};
    worker.Run("/tmp", false);
    EXPECT_EQ(recorder.Wait(), CReportWorker::kNoDevice);
    EXPECT_EQ(recorder.range, 0);

    // A device that does not answer stops the run; the files before it stay.
    ScratchFolder second("td-worker-silent");
    g_selection = {{0, kSimDevices[1].address}, {0, tdtest::kSimSilent}, {0, kSimDevices[0].address}};
    worker.TakeSettings(Block(kSilentRun));
    worker.Run(second.path.string(), true);
    EXPECT_EQ(recorder.Wait(), SNMPS_FAILED);
    worker.TakeSettings(Block());
    EXPECT_TRUE(std::filesystem::exists(second / FileOf(1, 1)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(second.path), {}), 1);

    // Stopped during the transmitters of the first device: its file ends
    // with the abort line, and the run with the abort.
    ScratchFolder third("td-worker-abort");
    g_selection = {{0, kSimDevices[1].address}, {0, kSimDevices[0].address}};
    recorder.abortAt = "(2)";
    worker.Run(third.path.string(), false);
    EXPECT_EQ(recorder.Wait(), CReportWriter::kUserAbort);
    ExpectReport(ReadFile(third / FileOf(1, 1)), "devsim_2x2_aborted.csv");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(third.path), {}), 1);

    // The abort ended with its run: the next run writes its device.
    ScratchFolder fourth("td-worker-after-abort");
    g_selection = {{0, kSimDevices[0].address}};
    recorder.abortAt.clear();
    worker.Run(fourth.path.string(), false);
    EXPECT_EQ(recorder.Wait(), 0);
    ExpectReport(ReadFile(fourth / FileOf(1, 0)), kExpected[0]);
    worker.Stop();
    EXPECT_FALSE(worker.Running());
}

} // namespace
