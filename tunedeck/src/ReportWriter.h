// CReportWriter: reads one device's configuration and status through a
// device model and writes it as one CSV file for people to read: the device,
// then each transmitter, then each receiver. Values the device lacks appear
// as "N.A.". The run can be stopped from another thread (Abort); the writer
// checks between its steps and values.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "ReportFile.h"

class CDeviceMib;

class CReportWriter {
public:
    static constexpr int kUserAbort = 256;
    static constexpr size_t kTextMax = 255;
    // sysName texts longer than this name no file.
    static constexpr size_t kNameMax = 230;

    using ProgressFn = std::function<void(const char* text)>;
    using ClockFn = std::function<std::tm()>;

    CReportWriter();
    ~CReportWriter();

    // Texts of more than kTextMax characters are not taken (the field is
    // left empty).
    void SetIpAddress(const char* ip) { Take(m_ip, ip); }
    void SetFolder(const char* folder) { Take(m_folder, folder); }
    // The file's name; none: "%03d_%s.csv" with the sequence number and the
    // device's sysName (or MAC address).
    void SetFileName(const char* name) { Take(m_fileName, name); }
    void SetReadCommunity(const char* text) { Take(m_readCommunity, text); }
    void SetWriteCommunity(const char* text) { Take(m_writeCommunity, text); }
    // 0 leaves the model's own setting.
    void SetRetries(int retries) { m_retries = retries; }
    void SetTimeout(int hundredths) { m_timeout = hundredths; }
    void SetDelay(int ms) { m_delay = ms; }
    // The model to read the device through; none: the writer makes its own.
    void SetModel(CDeviceMib* mib) { m_model = mib; }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // The local time written into the report (tests fix it).
    void SetClock(ClockFn clock) { m_clock = std::move(clock); }

    // Stops the run under way, or the next one when none is: an abort is
    // never lost between two runs. It holds until ClearAbort.
    void Abort() { m_abort = true; }
    void ClearAbort() { m_abort = false; }
    bool Aborted() const { return m_abort; }

    // 0, kUserAbort, a model or session code, or a ReportFileResult.
    int WriteReport(int sequence);
    // The path of the file the last run wrote.
    const std::string& FilePath() const { return m_file.Path(); }

private:
    static void Take(std::string& field, const char* text);
    void Progress(const char* text);
    void Progress(const char* format, const std::string& name);
    std::string ChooseFileName(int sequence);

    int DeviceSection();
    int TransmitterSection();
    int ReceiverSection();
    int AudioMap();
    // Every bundle of a section, x from 0 to count - 1.
    int Bundles(int count, int (CReportWriter::*bundle)(int));
    int Transmitter(int x);
    int Receiver(int x);

    // Starts the line of a key.
    int Key(const std::string& key);
    // One key and its value: the value's line, "N.A." when the device lacks
    // it, nothing at all on another failure (whose code is returned).
    int Number(const std::string& key, int row, const char* format, int x = 0, bool again = false);
    int Text(const char* key, int row);
    int Mac(const char* key, int row);
    // One value per channel of bundle x, after a batch read of them all.
    int Channels(const std::string& key, int row, int x, const char* format);
    // Batch read of rows for bundle x (or scalars); the result is not needed.
    void Batch(std::initializer_list<int> rows, int x = 0);

    std::string m_ip, m_folder, m_fileName, m_readCommunity, m_writeCommunity;
    int m_retries = 0;
    int m_timeout = 0;
    int m_delay = 0;
    CDeviceMib* m_model = nullptr;
    CDeviceMib* m_mib = nullptr; // the model of the current run
    ProgressFn m_progress;
    ClockFn m_clock;
    std::atomic<bool> m_abort{false};
    char m_mac[13] = {};
    char m_macColon[18] = {};
    CReportFile m_file;
};
