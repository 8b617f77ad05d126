#include "ReportWorker.h"

CReportWorker::CReportWorker(Sink& sink) : m_sink(sink)
{
    m_writer.SetProgress([this](const char* text) { m_sink.OnProgress(text); });
}

CReportWorker::~CReportWorker() { Stop(); }

void CReportWorker::TakeSettings(const LaunchBlock& block)
{
    if (block.GetFirst)
        m_getFirst = block.GetFirst;
    if (block.GetNext)
        m_getNext = block.GetNext;
    if (block.WriteCommunity)
        m_writeCommunity = block.WriteCommunity;
    if (block.ReadCommunity)
        m_readCommunity = block.ReadCommunity;
    if (block.Retries)
        m_retries = block.Retries;
    if (block.Timeout)
        m_timeout = block.Timeout; // hundredths of a second for reports
    if (block.Delay)
        m_delay = block.Delay;
}

int CReportWorker::Start()
{
    if (m_thread)
        return 0;
    m_commandEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_startedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_command = COMMAND_NONE;
    m_startStatus = 1;
    if (m_commandEvent && m_startedEvent)
        m_thread = CreateThread(nullptr, 0, &CReportWorker::ThreadEntry, this, 0, nullptr);
    if (!m_thread) {
        Stop();
        return LAUNCH_LOAD_FAILED;
    }
    if (WaitForSingleObject(m_startedEvent, kStartWait) != WAIT_OBJECT_0) {
        Stop();
        return LAUNCH_LOAD_FAILED;
    }
    ResetEvent(m_startedEvent);
    return m_startStatus;
}

void CReportWorker::Stop()
{
    if (m_thread) {
        // The thread checks the command at least every 10 ms and the abort
        // flag between the steps of a run: it ends by itself, once a callback
        // it may be in has returned.
        m_command = COMMAND_EXIT;
        Abort();
        SetEvent(m_commandEvent);
        while (WaitForSingleObject(m_thread, m_serve ? kServeEvery : INFINITE) == WAIT_TIMEOUT)
            m_serve();
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    for (HANDLE* event : {&m_commandEvent, &m_startedEvent}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
}

void CReportWorker::Run(const std::string& folder, bool allDevices)
{
    if (!m_thread)
        return;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_folder = folder;
        m_all = allDevices;
    }
    // Cleared here, before the run is handed over, and nowhere else: an abort
    // that comes after it is never lost.
    m_writer.ClearAbort();
    m_command = COMMAND_RUN;
    SetEvent(m_commandEvent);
}

void CReportWorker::Abort() { m_writer.Abort(); }

DWORD CReportWorker::ThreadEntry(LPVOID self) { return static_cast<CReportWorker*>(self)->ThreadMain(); }

DWORD CReportWorker::ThreadMain()
{
    m_startStatus = 0;
    SetEvent(m_startedEvent);
    for (;;) {
        const DWORD wait = WaitForSingleObject(m_commandEvent, 10);
        const int command = m_command;
        if (command == COMMAND_EXIT)
            return 0;
        if (wait != WAIT_OBJECT_0 || command != COMMAND_RUN)
            continue;
        // A stop that came meanwhile stays: only a run command is taken.
        int run = COMMAND_RUN;
        if (!m_command.compare_exchange_strong(run, COMMAND_NONE))
            continue;
        ResetEvent(m_commandEvent);
        m_sink.OnFinished(RunReports());
    }
}

int CReportWorker::CountDevices(bool all)
{
    int count = 0;
    const char* ip = nullptr;
    for (int r = m_getFirst(&ip, all); r != LAUNCH_SELECT_END && !m_writer.Aborted(); r = m_getNext(&ip, all))
        if (r == LAUNCH_SELECT_DEVICE)
            ++count;
    return count;
}

int CReportWorker::RunReports()
{
    std::string folder;
    bool all = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        folder = m_folder;
        all = m_all;
    }
    if (!m_getFirst || !m_getNext)
        return kNoDevice;
    const int count = CountDevices(all);
    if (m_writer.Aborted())
        return CReportWriter::kUserAbort;
    if (count == 0)
        return kNoDevice;

    if (folder.size() > CReportFile::kPathMax)
        folder.clear(); // refused by the writer
    m_writer.SetReadCommunity(m_readCommunity.empty() ? nullptr : m_readCommunity.c_str());
    m_writer.SetWriteCommunity(m_writeCommunity.empty() ? nullptr : m_writeCommunity.c_str());
    m_writer.SetRetries(m_retries);
    m_writer.SetTimeout(m_timeout);
    m_writer.SetDelay(m_delay);
    m_sink.OnRange(count * kStepsPerDevice);

    int result = 0;
    int sequence = 0;
    const char* ip = nullptr;
    for (int r = m_getFirst(&ip, all); r != LAUNCH_SELECT_END; r = m_getNext(&ip, all)) {
        if (m_writer.Aborted())
            return CReportWriter::kUserAbort;
        if (r != LAUNCH_SELECT_DEVICE)
            continue; // no address, or off line
        // The console's text lives until its next callback: the writer copies it.
        m_writer.SetIpAddress(ip);
        m_writer.SetFolder(folder.c_str());
        m_writer.SetFileName(nullptr);
        m_writer.SetModel(nullptr);
        result = m_writer.WriteReport(++sequence);
        if (result != 0)
            break;
        if (m_writer.Aborted())
            return CReportWriter::kUserAbort;
    }
    return result;
}
