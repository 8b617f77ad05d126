// CDeviceMib: the cache over the device variable table and the requests
// that fill and write it.
#include "DeviceMib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace mib;

namespace {

constexpr int32_t kNotAvailableValue = -1;

} // namespace

CDeviceMib::CDeviceMib()
{
    m_pacer.SetDelay(12);
    for (int row = 0; row < RowCount; ++row) {
        const RowDef& def = kRows[row];
        RowState& state = m_rows[row];
        state.cells.resize(static_cast<size_t>(def.dim1) * static_cast<size_t>(def.dim2));
        if (def.storage != STORE_INTEGER) {
            // Text: the characters and a terminator; octets: length and bytes.
            const size_t bytes = static_cast<size_t>(def.capacity) + (def.storage == STORE_TEXT ? 1 : 0);
            state.cells[0].data.assign(bytes, 0);
        }
    }
    ResetRows();
}

void CDeviceMib::SetDelay(uint32_t ms) { m_pacer.SetDelay(std::min(ms, kMaxDelay)); }

void CDeviceMib::ResetRows()
{
    for (int row = 0; row < RowCount; ++row) {
        RowState& state = m_rows[row];
        state.dim1 = kRows[row].dim1;
        state.dim2 = kRows[row].dim2;
        for (Cell& cell : state.cells) {
            cell.value = 0;
            std::fill(cell.data.begin(), cell.data.end(), 0);
            cell.valid = cell.changed = cell.notAvailable = false;
        }
    }
    m_queued.clear();
    m_session.DiscardBatch();
}

int CDeviceMib::CountBundles(int row, int& count)
{
    // Probed past the cache and its bounds, so that every open counts afresh.
    count = 0;
    for (int i = 0; i < kMaxBundles; ++i) {
        int32_t scratch = 0;
        const std::string oid = OidOf(row, i, 0);
        m_pacer.Wait();
        const int result = m_session.GetOne(oid.c_str(), KIND_INTEGER, &scratch, sizeof scratch);
        m_pacer.Start();
        if (result == SNMPS_NOT_AVAILABLE)
            return MIB_OK;
        if (result != SNMPS_OK) {
            count = 0;
            return result;
        }
        count = i + 1;
    }
    return MIB_OK;
}

int CDeviceMib::Open(const char* address)
{
    m_open = false;
    m_receivers = m_transmitters = 0;
    m_audioMapSize = 0;
    m_address = address ? address : "";
    ResetRows();
    int result = m_session.SetAddress(address);
    if (result != MIB_OK)
        return result;

    int receivers = 0, transmitters = 0;
    result = CountBundles(rxBundle, receivers);
    if (result != MIB_OK)
        return result;
    result = CountBundles(txBundle, transmitters);
    if (result != MIB_OK)
        return result;

    m_receivers = receivers;
    m_rows[rxBundle].dim1 = receivers;
    if (receivers)
        m_rows[rxSubMap].dim1 = m_rows[rxSubFormat].dim1 = receivers;
    m_transmitters = transmitters;
    m_rows[txBundle].dim1 = transmitters;
    if (transmitters)
        m_rows[txSubMap].dim1 = m_rows[txSubFormat].dim1 = transmitters;
    m_audioMapSize = kRows[audioMap].dim1;
    m_rows[audioMap].dim1 = m_audioMapSize;
    m_open = true;
    return MIB_OK;
}

int CDeviceMib::GetTxChannels(int x) const { return m_open && x >= 0 && x < m_transmitters ? kChannels : 0; }

int CDeviceMib::GetRxChannels(int x) const { return m_open && x >= 0 && x < m_receivers ? kChannels : 0; }

int CDeviceMib::Locate(int row, int x, int y, Cell*& cell)
{
    if (!m_open)
        return MIB_NOT_OPEN;
    if (row < 0 || row >= RowCount)
        return MIB_NO_ROW;
    RowState& state = m_rows[row];
    size_t index = 0;
    if (IsTable(row)) {
        if (x < 0 || x >= state.dim1)
            return MIB_X_RANGE;
        index = static_cast<size_t>(x);
        if (IsChannelTable(row)) {
            if (y < 0 || y >= state.dim2)
                return MIB_Y_RANGE;
            index = index * kChannels + static_cast<size_t>(y);
        }
    }
    cell = &state.cells[index];
    return MIB_OK;
}

std::string CDeviceMib::OidOf(int row, int x, int y) const
{
    // The shape of a row is fixed: a table row always names its instance,
    // however many bundles the device has.
    char oid[128];
    if (IsChannelTable(row))
        std::snprintf(oid, sizeof oid, "%s.%d.%d", kRows[row].oid, x + 1, y + 1);
    else if (IsTable(row))
        std::snprintf(oid, sizeof oid, "%s.%d", kRows[row].oid, x + 1);
    else
        return kRows[row].oid;
    return oid;
}

int CDeviceMib::ReadMaximum(int row)
{
    const RowDef& def = kRows[row];
    return def.storage == STORE_OCTETS ? def.capacity - 2 : def.capacity;
}

int CDeviceMib::ReadCell(int row, Cell& cell, const std::string& oid, bool force)
{
    if (!force && cell.valid)
        return MIB_OK;
    const int storage = kRows[row].storage;
    if (cell.notAvailable) {
        if (storage == STORE_INTEGER) {
            cell.value = kNotAvailableValue;
            cell.valid = false;
        } else if (storage == STORE_TEXT) {
            std::strcpy(reinterpret_cast<char*>(cell.data.data()), "*");
            cell.valid = false;
        } else {
            std::fill(cell.data.begin(), cell.data.end(), 0);
            cell.data[0] = 2;
        }
        return SNMPS_NOT_AVAILABLE;
    }

    m_pacer.Wait();
    int result;
    if (storage == STORE_INTEGER) {
        result = m_session.GetOne(oid.c_str(), kRows[row].kind, &cell.value, sizeof cell.value);
        if (result != SNMPS_OK)
            cell.value = 0;
        cell.valid = result == SNMPS_OK;
    } else {
        result = m_session.GetOne(oid.c_str(), kRows[row].kind, cell.data.data(), cell.data.size(), ReadMaximum(row));
        if (result == SNMPS_OK)
            cell.valid = true;
    }
    m_pacer.Start();
    return result;
}

int CDeviceMib::WriteCell(int row, Cell& cell, const std::string& oid, bool force)
{
    if ((!force && !cell.changed) || cell.notAvailable)
        return MIB_OK;
    m_pacer.Wait();
    int result;
    if (kRows[row].storage == STORE_INTEGER)
        result = m_session.SetOneInteger(oid.c_str(), kRows[row].kind, cell.value);
    else
        result = m_session.SetOneValue(oid.c_str(), kRows[row].kind, cell.data.data(), cell.data.size());
    if (result == SNMPS_OK)
        cell.changed = false;
    m_pacer.Start();
    return result;
}

int CDeviceMib::Read(int row, bool force, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    return result != MIB_OK ? result : ReadCell(row, *cell, OidOf(row, x, y), force);
}

int CDeviceMib::Write(int row, bool force, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    return result != MIB_OK ? result : WriteCell(row, *cell, OidOf(row, x, y), force);
}

int CDeviceMib::Get(int row, int32_t* value, int x, int y)
{
    Cell* cell = nullptr;
    int result = Locate(row, x, y, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_INTEGER)
        return MIB_NO_ROW;
    result = ReadCell(row, *cell, OidOf(row, x, y), false);
    if (value)
        *value = cell->value;
    return result;
}

int CDeviceMib::Get(int row, const char** text)
{
    Cell* cell = nullptr;
    int result = Locate(row, 0, 0, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_TEXT)
        return MIB_NO_ROW;
    result = ReadCell(row, *cell, OidOf(row, 0, 0), false);
    if (text)
        *text = reinterpret_cast<const char*>(cell->data.data());
    return result;
}

int CDeviceMib::Get(int row, const unsigned char** octets)
{
    Cell* cell = nullptr;
    int result = Locate(row, 0, 0, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_OCTETS)
        return MIB_NO_ROW;
    result = ReadCell(row, *cell, OidOf(row, 0, 0), false);
    if (octets)
        *octets = cell->data.data();
    return result;
}

int CDeviceMib::Set(int row, int32_t value, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_INTEGER)
        return MIB_NO_ROW;
    if (cell->value != value) {
        cell->value = value;
        cell->changed = true;
    }
    return MIB_OK;
}

int CDeviceMib::Set(int row, const char* text)
{
    Cell* cell = nullptr;
    const int result = Locate(row, 0, 0, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_TEXT || !text)
        return MIB_NO_ROW;
    const size_t capacity = static_cast<size_t>(kRows[row].capacity);
    const size_t length = strnlen(text, capacity + 1);
    if (length > capacity)
        return MIB_OK; // too long: ignored
    char* buffer = reinterpret_cast<char*>(cell->data.data());
    if (cell->valid && std::strcmp(buffer, text) == 0)
        return MIB_OK;
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
    cell->changed = true;
    return MIB_OK;
}

int CDeviceMib::Set(int row, const unsigned char* octets)
{
    Cell* cell = nullptr;
    const int result = Locate(row, 0, 0, cell);
    if (result != MIB_OK)
        return result;
    if (kRows[row].storage != STORE_OCTETS || !octets)
        return MIB_NO_ROW;
    unsigned char* buffer = cell->data.data();
    const size_t length = static_cast<size_t>(octets[0] | (octets[1] << 8));
    const size_t cached = buffer[0];
    if (length > cached)
        return MIB_OK; // longer than what the device holds: ignored
    if (cell->valid && length == cached && std::memcmp(buffer + 2, octets + 2, length) == 0)
        return MIB_OK;
    buffer[0] = static_cast<unsigned char>(length);
    buffer[1] = 0;
    std::memcpy(buffer + 2, octets + 2, length);
    cell->changed = true;
    return MIB_OK;
}

void CDeviceMib::ClearBatch()
{
    m_queued.clear();
    m_session.DiscardBatch();
}

int CDeviceMib::Queue(int row, bool force, int x, int y)
{
    Cell* cell = nullptr;
    int result = Locate(row, x, y, cell);
    if (result != MIB_OK)
        return result;
    if ((!force && cell->valid) || cell->notAvailable)
        return MIB_OK;
    cell->valid = false;
    const std::string oid = OidOf(row, x, y);
    const int kind = kRows[row].kind;
    void* dest = &cell->value;
    size_t size = sizeof cell->value;
    int maximum = 0;
    if (kRows[row].storage != STORE_INTEGER) {
        dest = cell->data.data();
        size = cell->data.size();
        maximum = ReadMaximum(row);
    }
    result = m_queued.empty() ? m_session.BeginBatch(oid.c_str(), kind, dest, size, maximum)
                              : m_session.AddToBatch(oid.c_str(), kind, dest, size, maximum);
    if (result == SNMPS_OK)
        m_queued.push_back(cell);
    return result;
}

int CDeviceMib::RunBatch()
{
    if (!m_open)
        return MIB_NOT_OPEN;
    if (m_queued.empty())
        return MIB_OK;
    m_pacer.Wait();
    const int result = m_session.ExecuteGet();
    m_pacer.Start();
    if (result == SNMPS_OK)
        for (Cell* cell : m_queued)
            cell->valid = true;
    m_queued.clear();
    return result;
}

int CDeviceMib::MarkValid(int row, bool valid, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    if (result == MIB_OK)
        cell->valid = valid;
    return result;
}

int CDeviceMib::MarkNotAvailable(int row, bool notAvailable, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    if (result == MIB_OK)
        cell->notAvailable = notAvailable;
    return result;
}

int CDeviceMib::IsValid(int row, bool* valid, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    if (result == MIB_OK && valid)
        *valid = cell->valid;
    return result;
}

int CDeviceMib::IsChanged(int row, bool* changed, int x, int y)
{
    Cell* cell = nullptr;
    const int result = Locate(row, x, y, cell);
    if (result == MIB_OK && changed)
        *changed = cell->changed;
    return result;
}

int CDeviceMib::WriteTransmitter(int x, bool force)
{
    for (int row : {txSubCount, txUnicastMode, txMaxUnicast}) {
        const int result = Write(row, force, x);
        if (result != MIB_OK)
            return result;
    }
    for (int y = 0; y < GetTxChannels(x); ++y) {
        for (int row : {txSubMap, txSubFormat}) {
            const int result = Write(row, force, x, y);
            if (result != MIB_OK)
                return result;
        }
    }
    return MIB_OK;
}

int CDeviceMib::WriteReceiver(int x, bool force)
{
    for (int y = 0; y < GetRxChannels(x); ++y) {
        for (int row : {rxSubMap, rxSubFormat}) {
            const int result = Write(row, force, x, y);
            if (result != MIB_OK)
                return result;
        }
    }
    return MIB_OK;
}

int CDeviceMib::SnmpSetValue(const char* oid, int kind, void* value, size_t size)
{
    if (!m_open)
        return MIB_NOT_OPEN;
    m_pacer.Wait();
    const int result = m_session.SetOneValue(oid, kind, value, size);
    m_pacer.Start();
    return result;
}

int CDeviceMib::SnmpSetInteger(const char* oid, int kind, int32_t value)
{
    if (!m_open)
        return MIB_NOT_OPEN;
    m_pacer.Wait();
    const int result = m_session.SetOneInteger(oid, kind, value);
    m_pacer.Start();
    return result;
}

int CDeviceMib::SnmpGet(const char* oid, int kind, void* dest, size_t size, int maximum)
{
    if (!m_open)
        return MIB_NOT_OPEN;
    m_pacer.Wait();
    const int result = m_session.GetOne(oid, kind, dest, size, maximum);
    m_pacer.Start();
    return result;
}
