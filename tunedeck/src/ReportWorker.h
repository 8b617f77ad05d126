// CReportWorker: the thread that writes the reports of a Save Reports run:
// it walks the console's devices through the launch block's selection
// callbacks and writes one file per device. The thread lives from Start to
// Stop and runs one report run per Run; it is stopped cooperatively (the
// abort flag is checked between steps, each SNMP wait is bounded by the
// time-out and retries), never killed. What it has to show goes to the sink,
// called on the worker thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include <tunedeck/LaunchBlock.h>

#include "ReportWriter.h"

class CReportWorker {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void OnRange(int steps) = 0;           // a run starts: its number of progress steps
        virtual void OnProgress(const char* text) = 0; // one step
        virtual void OnFinished(int result) = 0;       // 0, CReportWriter::kUserAbort or the failure
    };

    // Progress steps of one device.
    static constexpr int kStepsPerDevice = 6;
    // How long Start waits for the thread to report that it runs.
    static constexpr DWORD kStartWait = 2000;
    // How often Stop serves its thread while it waits.
    static constexpr DWORD kServeEvery = 5;
    // A run without any device that could be reported.
    static constexpr int kNoDevice = LAUNCH_INVALID_SELECTION;

    explicit CReportWorker(Sink& sink);
    ~CReportWorker();
    CReportWorker(const CReportWorker&) = delete;
    CReportWorker& operator=(const CReportWorker&) = delete;

    // The callbacks, communities, retries, time-out (hundredths of a second)
    // and delay of the block; zero words leave the defaults.
    void TakeSettings(const LaunchBlock& block);
    // 0, or LAUNCH_LOAD_FAILED when the thread could not be started.
    int Start();
    // Ends the thread: any run is aborted and finished first. While it waits
    // for the thread, Stop calls `serve` every few milliseconds: on a GUI
    // thread it serves the calls that the worker waits for there (a selection
    // callback reads the console's list through that thread), so a stop
    // during such a callback cannot deadlock.
    void SetWaitService(std::function<void()> serve) { m_serve = std::move(serve); }
    void Stop();
    bool Running() const { return m_thread != nullptr; }

    // Starts a run over the console's devices (all of them, or the selected
    // ones) into `folder`. The sink hears OnFinished when it ends.
    void Run(const std::string& folder, bool allDevices);
    // Stops the run: the writer's abort, which the worker also checks between
    // devices and which holds until the next Run.
    void Abort();

    // For tests: the writer's clock.
    void SetClock(CReportWriter::ClockFn clock) { m_writer.SetClock(std::move(clock)); }

private:
    enum Command { COMMAND_NONE = 0, COMMAND_EXIT = 2, COMMAND_RUN = 4 };

    static DWORD ThreadEntry(LPVOID self);
    DWORD ThreadMain();
    int RunReports();
    int CountDevices(bool all);

    Sink& m_sink;
    std::function<void()> m_serve;
    LaunchSelectFn m_getFirst = nullptr;
    LaunchSelectFn m_getNext = nullptr;
    std::string m_readCommunity, m_writeCommunity;
    int m_retries = 0, m_timeout = 0, m_delay = 0;

    HANDLE m_thread = nullptr;
    HANDLE m_commandEvent = nullptr;
    HANDLE m_startedEvent = nullptr;
    std::atomic<int> m_command{COMMAND_NONE};
    std::atomic<int> m_startStatus{1};
    // The run's folder and selection, handed over with COMMAND_RUN.
    std::mutex m_lock;
    std::string m_folder;
    bool m_all = false;
    CReportWriter m_writer;
};
