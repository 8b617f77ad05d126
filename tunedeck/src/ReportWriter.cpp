// The CSV device report.
#include "ReportWriter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "DeviceMib.h"

using namespace mib;

namespace {

const char kNotAvailableLine[] = "N.A.\n";
const char kAbortLine[] = "\n,**USER ABORT**";

std::tm LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A device's text as one line of the report: line breaks and other control
// characters would start lines of their own, so they are written as spaces.
std::string OneLine(const char* text)
{
    std::string line = text;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return line;
}

// The key of bundle x: "'nn : Name,".
std::string BundleKey(int x, const char* name) { return Format("'%02d : %s,", x + 1, name); }

} // namespace

CReportWriter::CReportWriter() : m_clock(LocalNow) {}

CReportWriter::~CReportWriter() = default;

void CReportWriter::Take(std::string& field, const char* text)
{
    // A text too long is not taken: nothing of an earlier one stays.
    if (!text || strnlen(text, kTextMax + 1) > kTextMax)
        field.clear();
    else
        field = text;
}

void CReportWriter::Progress(const char* text)
{
    if (m_progress)
        m_progress(text);
}

void CReportWriter::Progress(const char* format, const std::string& name)
{
    Progress(Format(format, name.c_str()).c_str());
}

std::string CReportWriter::ChooseFileName(int sequence)
{
    if (!m_fileName.empty())
        return SafeFileName(m_fileName);
    std::string name = m_mac;
    const char* sysName = nullptr;
    if (m_mib->Get(mib::sysName, &sysName) == 0 && strnlen(sysName, kNameMax + 1) <= kNameMax) {
        // The device names its file, but only inside the chosen folder.
        const std::string safe = SafeFileName(sysName);
        if (!safe.empty())
            name = safe;
    }
    return Format("%03d_%s.csv", sequence, name.c_str());
}

int CReportWriter::WriteReport(int sequence)
{
    Progress("Initializing");
    std::unique_ptr<CDeviceMib> own;
    if (m_model) {
        m_mib = m_model;
    } else {
        own = std::make_unique<CDeviceMib>();
        m_mib = own.get();
    }
    if (m_retries)
        m_mib->SetRetries(m_retries);
    if (m_timeout)
        m_mib->SetTimeout(m_timeout);
    if (m_delay)
        m_mib->SetDelay(static_cast<uint32_t>(m_delay));
    if (!m_readCommunity.empty())
        m_mib->SetReadCommunity(m_readCommunity.c_str());
    if (!m_writeCommunity.empty())
        m_mib->SetWriteCommunity(m_writeCommunity.c_str());

    if (m_abort)
        return kUserAbort;
    int result = m_mib->Open(m_ip.c_str());
    if (result != 0)
        return result;
    const unsigned char* octets = nullptr;
    m_mib->Get(ifPhysAddress, &octets); // a device without it is named by zeros
    const unsigned char* b = octets + 2;
    std::snprintf(m_mac, sizeof m_mac, "%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    std::snprintf(m_macColon, sizeof m_macColon, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    const std::string name = ChooseFileName(sequence);

    if (m_abort)
        return kUserAbort;
    Progress("Opening: %s", name);
    result = m_file.Open(m_folder, name);
    if (result != 0)
        return result;

    const struct {
        const char* progress;
        int (CReportWriter::*section)();
    } sections[] = {{"Writing: %s (1)", &CReportWriter::DeviceSection},
                    {"Writing: %s (2)", &CReportWriter::TransmitterSection},
                    {"Writing: %s (3)", &CReportWriter::ReceiverSection}};
    for (const auto& s : sections) {
        if (result != 0 || m_abort)
            break;
        Progress(s.progress, name);
        result = (this->*s.section)();
    }

    Progress("Closing: %s", name);
    const bool aborted = m_abort || result == kUserAbort;
    int closing = aborted ? m_file.Write(kAbortLine) : m_file.EndLine();
    const int closed = m_file.Close();
    if (closing == 0)
        closing = closed;
    if (aborted)
        return kUserAbort;
    return result != 0 ? result : closing;
}

int CReportWriter::Key(const std::string& key)
{
    // A line left open (a list cut short) ends before the next key.
    const int result = m_file.EndLine();
    return result != 0 ? result : m_file.Write(key);
}

void CReportWriter::Batch(std::initializer_list<int> rows, int x)
{
    m_mib->ClearBatch();
    for (int row : rows)
        m_mib->Queue(row, true, IsTable(row) ? x : 0);
    m_mib->RunBatch();
}

int CReportWriter::Number(const std::string& key, int row, const char* format, int x, bool again)
{
    if (m_abort)
        return kUserAbort;
    if (again)
        m_mib->MarkValid(row, false, x);
    int32_t value = 0;
    const int result = m_mib->Get(row, &value, x);
    if (result != 0 && result != SNMPS_NOT_AVAILABLE)
        return result;
    const int written = Key(key);
    if (written != 0)
        return written;
    return result == 0 ? m_file.Printf(format, value) : m_file.Write(kNotAvailableLine);
}

int CReportWriter::Text(const char* key, int row)
{
    if (m_abort)
        return kUserAbort;
    const char* text = nullptr;
    const int result = m_mib->Get(row, &text);
    if (result != 0 && result != SNMPS_NOT_AVAILABLE)
        return result;
    const int written = Key(key);
    if (written != 0)
        return written;
    return result == 0 ? m_file.Write(OneLine(text) + "\n") : m_file.Write(kNotAvailableLine);
}

int CReportWriter::Mac(const char* key, int row)
{
    if (m_abort)
        return kUserAbort;
    const unsigned char* octets = nullptr;
    const int result = m_mib->Get(row, &octets);
    if (result != 0 && result != SNMPS_NOT_AVAILABLE)
        return result;
    const int written = Key(key);
    if (written != 0)
        return written;
    if (result != 0)
        return m_file.Write(kNotAvailableLine);
    const unsigned char* b = octets + 2;
    return m_file.Printf("%02X:%02X:%02X:%02X:%02X:%02X\n", b[0], b[1], b[2], b[3], b[4], b[5]);
}

int CReportWriter::Channels(const std::string& key, int row, int x, const char* format)
{
    if (m_abort)
        return kUserAbort;
    const int channels = row == txSubMap || row == txSubFormat ? m_mib->GetTxChannels(x) : m_mib->GetRxChannels(x);
    m_mib->ClearBatch();
    for (int y = 0; y < channels; ++y)
        m_mib->Queue(row, true, x, y);
    m_mib->RunBatch();
    for (int y = 0; y < channels; ++y) {
        int32_t value = 0;
        const int result = m_mib->Get(row, &value, x, y);
        if (y == 0 && result != 0) {
            // A list the device lacks reads as one missing value.
            if (result != SNMPS_NOT_AVAILABLE)
                return result;
            const int written = Key(key);
            return written != 0 ? written : m_file.Write(kNotAvailableLine);
        }
        if (result != 0)
            return result; // the list stays open; the next key ends its line
        int written = y == 0 ? Key(key) : 0;
        if (written == 0)
            written = m_file.Printf(format, value);
        if (written == 0)
            written = m_file.Write(y + 1 < channels ? "," : "\n");
        if (written != 0)
            return written;
    }
    return 0;
}

int CReportWriter::DeviceSection()
{
    const std::tm now = m_clock();
    int result = m_file.Printf("Date,%02d/%02d/%04d\nTime,%02d:%02d %02d\n", now.tm_mon + 1, now.tm_mday,
                               now.tm_year + 1900, now.tm_hour, now.tm_min, now.tm_sec);
    if (result == 0)
        result = Text("sysDescr,", sysDescr);
    if (result == 0)
        result = m_file.Printf("IP,%s\nMAC,%s\n", m_ip.c_str(), m_macColon);
    if (result != 0)
        return result;

    Batch({sysName, sysLocation, sysContact, sysUpTime, condPriority, condStatus, serialFormat, serialBaud, errorCount,
           errorCode, syncConductorClock, syncPerformerClock});
    Batch({errorCount, errorCode, syncConductorClock, syncPerformerClock, syncBuddyLinkControl, syncStatus,
           serialPPeriod, serialRxMAC, serialTxMAC});

    const struct {
        const char* key;
        int row;
    } texts[] = {{"Name,", sysName}, {"Location,", sysLocation}, {"Contact,", sysContact}, {"sysUpTime,'", sysUpTime}};
    for (const auto& t : texts)
        if ((result = Text(t.key, t.row)) != 0)
            return result;

    const struct {
        const char* key;
        int row;
        const char* format;
        int x;
        bool again; // read afresh: these change while the device runs
    } numbers[] = {
        {"Hardware Platform,", firmwareHardwarePlatform, "%d\n", 0, false},
        {"Hardware Version,", firmwareHardwareVersion, "%d\n", 0, false},
        {"ErrorCount,", errorCount, "%d\n", 0, true},
        {"ErrorCode,", errorCode, "%d\n", 0, true},
        {"SSI Format,", audioSSIFormat, "0x%X\n", 0, false},
        {"ModeRateControl,", modeRateControl, "0x%X\n", 0, false},
        {"ModeRateStatus,", modeRateStatus, "0x%X\n", 0, false},
        {"Conductor Priority,", condPriority, "%d\n", 0, false},
        {"Conductor Status,", condStatus, "%d\n", 0, true},
        {"SyncConductorClock,", syncConductorClock, "%d\n", 0, false},
        {"SyncPerformerClock,", syncPerformerClock, "%d\n", 0, false},
        {"SyncBuddyLinkControl,", syncBuddyLinkControl, "0x%X\n", 0, false},
        {"SyncStatus,", syncStatus, "0x%X\n", 0, true},
        {"Current IF,", ifmCurrentIF, "%d\n", 0, true},
        {"IF 1 Status,", ifmtStatus, "0x%X\n", 0, true},
        {"IF 2 Status,", ifmtStatus, "0x%X\n", 1, true},
        {"IF Switch Mode,", ifmSwitchMode, "0x%X\n", 0, false},
        {"Serial Format,", serialFormat, "0x%X\n", 0, false},
        {"Serial Baud,", serialBaud, "%d\n", 0, false},
        {"Serial PPeriod,", serialPPeriod, "%d\n", 0, false},
    };
    for (const auto& n : numbers)
        if ((result = Number(n.key, n.row, n.format, n.x, n.again)) != 0)
            return result;
    if ((result = Mac("Serial RxMAC,", serialRxMAC)) != 0 || (result = Mac("Serial TxMAC,", serialTxMAC)) != 0)
        return result;
    return AudioMap();
}

int CReportWriter::AudioMap()
{
    if (m_abort)
        return kUserAbort;
    int result = Key("audioMap");
    if (result != 0)
        return result;
    constexpr int kGroup = 8;
    const int entries = m_mib->GetAudioMapSize();
    for (int first = 0; first < entries; first += kGroup) {
        if (m_abort)
            return kUserAbort;
        const int last = std::min(first + kGroup, entries);
        m_mib->ClearBatch();
        for (int x = first; x < last; ++x)
            m_mib->Queue(audioMap, true, x);
        m_mib->RunBatch();
        bool written = false;
        for (int x = first; x < last; ++x) {
            int32_t value = 0;
            const int read = m_mib->Get(audioMap, &value, x);
            if (read != 0) {
                // A device with fewer entries ends its map here; another
                // failure ends the line first.
                return read == SNMPS_NOT_AVAILABLE || read == MIB_X_RANGE ? 0 : m_file.EndLine();
            }
            if (value < 0)
                continue;
            if ((result = m_file.Printf(",'%2d : %d", x + 1, value)) != 0)
                return result;
            written = true;
        }
        if (written && last % kGroup == 0 && (result = m_file.Write("\n")) != 0)
            return result;
    }
    return 0;
}

int CReportWriter::Bundles(int count, int (CReportWriter::*bundle)(int))
{
    // Each bundle is written even after another failed; the first failure
    // is the section's result.
    int first = 0;
    for (int x = 0; x < count; ++x) {
        const int result = (this->*bundle)(x);
        if (result == kUserAbort)
            return result;
        if (first == 0)
            first = result;
    }
    return first;
}

int CReportWriter::TransmitterSection() { return Bundles(m_mib->GetTransmitterCount(), &CReportWriter::Transmitter); }

int CReportWriter::Transmitter(int x)
{
    Batch({txBundle, txReceivers, txDropouts, txUnicastMode, txMaxUnicast, txSubCount}, x);
    const struct {
        const char* name;
        int row;
        const char* format;
        bool again;
    } numbers[] = {
        {"TxBundle", txBundle, "%d\n", false},         {"TxStatus", txReceivers, "%d\n", true},
        {"TxDropouts", txDropouts, "%d\n", true},      {"TxUnicastMode", txUnicastMode, "0x%X\n", false},
        {"TxMaxUnicast", txMaxUnicast, "%d\n", false}, {"TxSubCount", txSubCount, "%d\n", false},
    };
    int result = 0;
    for (const auto& n : numbers)
        if ((result = Number(BundleKey(x, n.name), n.row, n.format, x, n.again)) != 0)
            return result;
    if ((result = Channels(BundleKey(x, "TxSubmap"), txSubMap, x, "%d")) != 0)
        return result;
    return Channels(BundleKey(x, "TxSubFormat"), txSubFormat, x, "0x%X");
}

int CReportWriter::ReceiverSection() { return Bundles(m_mib->GetReceiverCount(), &CReportWriter::Receiver); }

int CReportWriter::Receiver(int x)
{
    Batch({rxBundle, rxDelay, rxMinDelay, rxStatus, rxDropouts}, x);
    const struct {
        const char* name;
        int row;
    } numbers[] = {{"RxBundle", rxBundle},
                   {"RxStatus", rxStatus},
                   {"RxDropouts", rxDropouts},
                   {"RxDelay", rxDelay},
                   {"RxMinDelay", rxMinDelay}};
    int result = 0;
    for (const auto& n : numbers)
        if ((result = Number(BundleKey(x, n.name), n.row, "%d\n", x)) != 0)
            return result;
    if ((result = Channels(BundleKey(x, "RxSubmap"), rxSubMap, x, "%d")) != 0)
        return result;
    return Channels(BundleKey(x, "RxSubFormat"), rxSubFormat, x, "0x%X");
}
