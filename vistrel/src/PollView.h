// The poll view joins the device table, the SNMP poller and the main
// dialog's device list: it watches every OID of every shown poll column on
// each reachable device, pulls the changed values into the records each tick,
// brings rows, status icons and cells up to date, and tunes the poll period.
#pragma once

#include "ColumnSet.h"
#include "DeviceTable.h"

#include <afxcmn.h>

#include <querant/querant_com.h>

#include <cstdint>
#include <string>
#include <vector>

// The cell text of a Counter32 reading: its increase over the base, or
// "Overflow" when it is below the base. Both are read as SortNumber reads them.
std::string CounterDelta(const std::string& value, const std::string& base);
// A cell text as the numeric sort reads it: leading blanks, an optional sign
// and decimal digits, taken as an unsigned 64-bit number, so Counter64
// values compare whole (negative values wrap and sort after the positive
// ones, as they always did; too many digits hold at the largest value).
uint64_t SortNumber(const std::string& text);

class PollView : public ColumnSet, public DeviceTable {
public:
    PollView();
    ~PollView() override;

    void SetUpList(CListCtrl* list, CMenu* headerMenu, UINT& moreCommandId);
    // Forgets everything and starts discovery on the adapter (none: no
    // discovery, nothing to show).
    void StartDiscovery(Icom_adapter* adapter);
    // Forgets watches, devices and rows (the Refresh command). A failed call
    // ends the program with the text of the server that failed.
    void Clear(const char* pollerFailure = "COM Querant access error(refresh).",
               const char* discoveryFailure = "COM Scoutline access error(refresh).");
    void UpdateView();
    void SetAddressRange(const std::string& start, const std::string& end, bool autoassign);
    void SetDeviceAddress(const std::string& mac, const qm::ip_address_t& address);
    void SetColumnWidth(int index, int width);
    void SortBy(int column);
    void CheckHeaderMenu(CMenu* menu);
    void CopyText(std::string& text);

    void JoinValues(const Column& column, const std::string& oid, const std::string& value, std::string& cell) override;
    bool AddColumn(const std::string& name) override;
    bool RemoveColumn(const std::string& name) override;

    void OnDeviceUp(const std::string& ip, DeviceRecord& record) override;
    void OnDeviceDown(const std::string& ip, DeviceRecord& record) override;
    void OnDeviceRefresh(const std::string& ip, DeviceRecord& record) override;

    Icom_manager* Poller() const { return poller; }
    int PollRate() const { return pollRate; }
    int OnlineImage() const { return onlineImage; }
    int OfflineImage() const { return offlineImage; }

private:
    void CreatePoller();
    void ReadChanges(const std::string& ip, DeviceRecord& record);
    std::string HeaderText(int index) const;
    int HeaderCount() const;
    int RowImage(int row) const;
    std::string CellText(int row, int column) const;
    std::string JoinedCell(const Column& column, const std::string& oid, const PolledValue& polled,
                           const DeviceRecord& record, const std::string& cell);
    static int CALLBACK Compare(LPARAM first, LPARAM second, LPARAM view);

    CImageList imageList;
    int onlineImage = 0;
    int offlineImage = 1;
    int pollRate;
    CComPtr<Icom_manager> poller;
    int sortColumn = 1;
    int sortDirection = 1;
    bool numericSort = false;
    CListCtrl* list = nullptr;
    std::vector<std::string> sortTexts; // column texts by old row index while sorting
    std::vector<int> sortImages;
};
