// The poll view: creating the poller, following devices with watches,
// reading their changed values, and bringing the device list up to date.
#include "PollView.h"

#include "ComFailure.h"
#include "IniFile.h"
#include "ServerCalls.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_map>

std::string CounterDelta(const std::string& value, const std::string& base)
{
    const uint64_t now = SortNumber(value), first = SortNumber(base);
    return now < first ? "Overflow" : std::to_string(now - first);
}

uint64_t SortNumber(const std::string& text)
{
    size_t at = text.find_first_not_of(" \t\n\r\v\f");
    if (at == std::string::npos)
        return 0;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-')
        negative = text[at++] == '-';
    uint64_t number = 0;
    const uint64_t most = std::numeric_limits<uint64_t>::max();
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const uint64_t digit = uint64_t(text[at] - '0');
        number = number > (most - digit) / 10 ? most : number * 10 + digit;
    }
    return negative ? uint64_t(0) - number : number;
}

PollView::PollView() : pollRate(ReadIniInt("Poller", "Poll Rate", 5))
{
    if (pollRate < 1)
        pollRate = 1;
    CreatePoller();
    ConsoleLog().Write("Poller object is created");
}

PollView::~PollView()
{
    imageList.DeleteImageList();
    poller.Release();
}

void PollView::CreatePoller()
{
    const char* const failure = "COM Querant can't be created.";
    const HRESULT hr = CreateServerObject(CLSID_com_manager, poller);
    if (FAILED(hr))
        ReportComError(ErrorWithInfo(hr), failure);
    try {
        CheckCall(poller->start(), poller.p);
        CheckCall(poller->put_num_threads(ReadIniInt("Poller", "Number Of Threads", 5)), poller.p);
        CheckCall(poller->put_retry_count(ReadIniInt("Poller", "Retry Count", 3)), poller.p);
        CheckCall(poller->put_timeout(ReadIniInt("Poller", "Timeout", 3000)), poller.p);
    } catch (const _com_error& e) {
        ReportComError(e, failure);
    }
}

void PollView::StartDiscovery(Icom_adapter* newAdapter)
{
    Clear("COM Querant access error(adapter_set).", "COM Scoutline access error(adapter_set).");
    adapter = newAdapter;
    if (!adapter)
        return;
    try {
        CheckCall(adapter->start(), adapter.p);
        CheckCall(adapter->put_send_reservation(ReadIniInt("Scoutline", "autosend", 1)), adapter.p);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(start).");
    }
}

void PollView::Clear(const char* pollerFailure, const char* discoveryFailure)
{
    try {
        if (poller)
            CheckCall(poller->clear_watch(), poller.p);
    } catch (const _com_error& e) {
        ReportComError(e, pollerFailure);
    }
    try {
        DeviceTable::Clear();
    } catch (const _com_error& e) {
        ReportComError(e, discoveryFailure);
    }
    if (list)
        list->DeleteAllItems();
}

void PollView::OnDeviceUp(const std::string& ip, DeviceRecord& record)
{
    try {
        const _bstr_t address(ip.c_str());
        for (const auto& [name, column] : shownByName) {
            for (const auto& oid : column->oids) {
                CheckCall(poller->watch(address, _bstr_t(oid.c_str())), poller.p);
                record.values[oid] = PolledValue();
            }
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Querant access error(watch).");
    }
}

void PollView::OnDeviceDown(const std::string& ip, DeviceRecord& record)
{
    // The poller watches by address: while another device reports this one
    // too, the watches stay for it.
    if (!OtherAt(ip, &record)) {
        try {
            CheckCall(poller->end_device_watch(_bstr_t(ip.c_str())), poller.p);
        } catch (const _com_error& e) {
            ReportComError(e, "COM Querant access error(end watch).");
        }
    }
    record.values.clear();
}

void PollView::OnDeviceRefresh(const std::string& ip, DeviceRecord& record)
{
    try {
        ReadChanges(ip, record);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Querant access error(device update).");
    }
}

void PollView::ReadChanges(const std::string& ip, DeviceRecord& record)
{
    const _bstr_t address(ip.c_str());
    CComPtr<IDispatch> changes;
    CheckCall(poller->get_device_changes(address, &changes.p), poller.p);
    CComPtr<Icom_variable_vector> vector = QueryAs<Icom_variable_vector>(changes);
    CheckObject(vector);
    long length = 0;
    CheckCall(vector->get_length(&length), vector.p);
    for (long i = 0; i < length; ++i) {
        CComPtr<IDispatch> item;
        CheckCall(vector->at(i, &item.p), vector.p);
        CComPtr<Icom_variable> variable = QueryAs<Icom_variable>(item);
        CheckObject(variable);
        BSTR text = nullptr;
        CheckCall(variable->get_name(&text), variable.p);
        const std::string name = TakeText(text);
        auto found = record.values.find(name);
        if (found == record.values.end())
            continue;
        PolledValue& polled = found->second;

        long type = 0, valid = 0;
        CheckCall(variable->get_type(&type), variable.p);
        CheckCall(variable->get_valid(&valid), variable.p);
        text = nullptr;
        CheckCall(variable->get_value(&text), variable.p);
        const std::string value = TakeText(text);
        if (type == 65 && valid) {
            // A counter shows its increase since its first good reading.
            if (polled.type == 0 || polled.base.empty())
                polled.base = value;
            polled.shown = CounterDelta(value, polled.base);
        } else {
            polled.shown = value;
        }
        polled.type = static_cast<int32_t>(type);

        // A read-once column stops after its first good, non-empty value.
        auto column = shownByOid.find(name);
        if (column != shownByOid.end() && !column->second->dynamic && !value.empty() && valid)
            CheckCall(poller->end_watch(address, _bstr_t(name.c_str())), poller.p);
    }
}

void PollView::UpdateView()
{
    if (!list)
        return;
    std::unordered_map<std::string, int> headerIndex;
    const int columnCount = HeaderCount();
    for (int c = 3; c < columnCount; ++c)
        headerIndex.emplace(HeaderText(c), c);

    // Rows by MAC text (the first row of a text wins, as a search would find it).
    std::unordered_map<std::string, int> rowOf;
    const int rows = list->GetItemCount();
    rowOf.reserve(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        rowOf.emplace(CellText(r, 1), r);

    int k = 0;
    for (const auto& [mac, recordPointer] : byMac) {
        DeviceRecord& record = *recordPointer;
        int row;
        if (auto found = rowOf.find(mac); found != rowOf.end()) {
            row = found->second;
        } else {
            row = list->InsertItem(k, "", onlineImage);
            if (row < 0) {
                ++k;
                continue;
            }
            for (auto& entry : rowOf)
                if (entry.second >= row)
                    ++entry.second;
            rowOf.emplace(mac, row);
            list->SetItemText(row, 1, mac.c_str());
        }

        const int image = record.dead ? offlineImage : onlineImage;
        if (RowImage(row) != image) {
            LVITEM item{};
            item.mask = LVIF_IMAGE;
            item.iItem = row;
            item.iImage = image;
            list->SetItem(&item);
        }
        if (CellText(row, 2) != record.ip)
            list->SetItemText(row, 2, record.ip.c_str());

        for (const auto& [oid, polled] : record.values) {
            auto column = shownByOid.find(oid);
            if (column == shownByOid.end())
                continue;
            auto index = headerIndex.find(column->second->name);
            if (index == headerIndex.end())
                continue;
            const Column& shownColumn = *column->second;
            const std::string cell = CellText(row, index->second);
            const std::string shown =
                shownColumn.join ? JoinedCell(shownColumn, oid, polled, record, cell) : polled.shown;
            if (shown != cell)
                list->SetItemText(row, index->second, shown.c_str());
        }
        ++k;
    }

    try {
        long watched = 0;
        CheckCall(poller->get_watch_size(&watched), poller.p);
        const long period = ((watched + pollRate - 1) / pollRate) * 1000;
        if (period > 1000)
            CheckCall(poller->put_poll_period(period), poller.p);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Querant access error(update view).");
    }
}

void PollView::JoinValues(const Column& column, const std::string& oid, const std::string& value, std::string& cell)
{
    std::vector<std::string> parts;
    if (cell.empty()) {
        parts.assign(column.oids.size(), " ");
    } else {
        for (size_t at = 0;;) {
            const size_t slash = cell.find('/', at);
            parts.push_back(cell.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
            if (slash == std::string::npos)
                break;
            at = slash + 1;
        }
    }
    for (size_t i = 0; i < column.oids.size(); ++i) {
        if (column.oids[i] != oid)
            continue;
        if (i >= parts.size())
            parts.resize(i + 1, " ");
        parts[i] = value;
        break;
    }
    cell.clear();
    for (size_t i = 0; i < parts.size(); ++i)
        cell += (i ? "/" : "") + parts[i];
}

std::string PollView::JoinedCell(const Column& column, const std::string& oid, const PolledValue& polled,
                                 const DeviceRecord& record, const std::string& cell)
{
    // A value holding "/" would shift the parts of the split cell: such a
    // cell, or one already split wrongly, is built afresh from the values.
    bool rebuild = !cell.empty() && size_t(std::count(cell.begin(), cell.end(), '/')) + 1 != column.oids.size();
    for (const auto& part : column.oids) {
        auto value = record.values.find(part);
        if (value != record.values.end() && value->second.shown.find('/') != std::string::npos)
            rebuild = true;
    }
    std::string joined = cell;
    if (!rebuild) {
        (this->*column.join)(column, oid, polled.shown, joined);
        return joined;
    }
    joined.clear();
    for (size_t i = 0; i < column.oids.size(); ++i) {
        auto value = record.values.find(column.oids[i]);
        joined += (i ? "/" : "") + (value == record.values.end() ? std::string(" ") : value->second.shown);
    }
    return joined;
}

bool PollView::AddColumn(const std::string& name)
{
    auto found = availableByName.find(name);
    if (found == availableByName.end())
        return false;
    Column* column = found->second;
    try {
        for (auto& [ip, record] : byIp) {
            if (record->dead)
                continue;
            const _bstr_t address(ip.c_str());
            for (const auto& oid : column->oids) {
                record->values[oid] = PolledValue();
                CheckCall(poller->watch(address, _bstr_t(oid.c_str())), poller.p);
            }
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Querant access error(watch).");
    }
    MoveToShown(column);
    if (!list)
        return false;
    return list->InsertColumn(HeaderCount(), name.c_str(), column->format, column->width) >= 0;
}

bool PollView::RemoveColumn(const std::string& name)
{
    auto found = shownByName.find(name);
    if (found == shownByName.end())
        return false;
    Column* column = found->second;
    try {
        for (auto& [ip, record] : byIp) {
            const _bstr_t address(ip.c_str());
            for (const auto& oid : column->oids) {
                record->values.erase(oid);
                CheckCall(poller->end_watch(address, _bstr_t(oid.c_str())), poller.p);
            }
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Querant access error(end watch).");
    }
    MoveToAvailable(column);
    if (!list)
        return false;
    const int count = HeaderCount();
    for (int c = 3; c < count; ++c) {
        if (HeaderText(c) == name)
            return list->DeleteColumn(c) != FALSE;
    }
    return false;
}

void PollView::SetAddressRange(const std::string& start, const std::string& end, bool autoassign)
{
    if (!adapter)
        return;
    try {
        CheckCall(adapter->put_ip_start(_bstr_t(start.c_str())), adapter.p);
        CheckCall(adapter->put_ip_end(_bstr_t(end.c_str())), adapter.p);
        CheckCall(adapter->put_autoassign(autoassign ? 1 : 0), adapter.p);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(set IP).");
    }
}

void PollView::SetDeviceAddress(const std::string& mac, const qm::ip_address_t& address)
{
    if (!adapter)
        return;
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", int(address.number >> 24 & 0xFF),
                  int(address.number >> 16 & 0xFF), int(address.number >> 8 & 0xFF), int(address.number & 0xFF));
    try {
        CComPtr<IDispatch> object;
        CheckCall(adapter->device_get(_bstr_t(mac.c_str()), &object.p), adapter.p);
        CComPtr<Icom_device> device = QueryAs<Icom_device>(object);
        CheckObject(device);
        CheckCall(device->put_ip(_bstr_t(dotted)), device.p);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(set device IP).");
    }
}
