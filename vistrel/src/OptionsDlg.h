// The Options dialog and the console's client of the discovery server: it
// creates the server's manager, keeps every adapter's address range and
// automatic assignment, the chosen adapter and the firmware folder, and
// writes them to "vistrel.ini" when the console ends.
#pragma once

#include <afxcmn.h>

#include <scoutline/com/interfaces.h>

#include <map>
#include <string>

struct AdapterSettings {
    std::string ip_start;
    std::string ip_end;
    bool autoassign = false;
};

using AdapterMap = std::map<std::string, AdapterSettings>;

class COptionsDlg : public CDialog {
public:
    explicit COptionsDlg(CWnd* parent = nullptr);
    ~COptionsDlg() override;

    bool adapter_changed() const { return adapterChanged; }
    std::string ip_start() const;
    std::string ip_end() const;
    bool autoassign() const;
    std::string firmware_folder() const { return firmwareFolder; }
    // The current adapter with its settings pushed to the server, AddRef'd
    // for the caller; null when the server reports no adapter.
    Icom_adapter* current_adapter();

    // What the dialog works on (for the main dialog's tests and the demo).
    std::string current_name() const;
    const AdapterMap& adapters() const { return adapterMap; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

protected:
    afx_msg void OnAdapterChange();
    afx_msg void OnAutoAssign();
    afx_msg void OnRangeStart(NMHDR* header, LRESULT* result);
    afx_msg void OnRangeEnd(NMHDR* header, LRESULT* result);
    afx_msg void OnRangeDefault();
    afx_msg void OnFolderChange();
    afx_msg void OnFolderDefault();
    afx_msg void OnFolderBrowse();

private:
    void CreateManager();
    void ReadAdapters();
    void LoadSettings();
    void SaveSettings();
    void ShowSelection();
    void EnableRule();
    // False, with the adapter shown and a message, when a range is reversed.
    bool RangesInOrder();
    std::string DefaultFolder() const { return programDirectory + "firmware"; }
    std::string FieldsText(CIPAddressCtrl* control) const;

    std::string programDirectory;
    std::string firmwareFolder;
    CComPtr<Imanager> manager;
    bool adapterChanged = false;
    AdapterMap::iterator current;
    AdapterMap adapterMap;
    AdapterMap::iterator selection;
    AdapterMap working;
    CIPAddressCtrl* startControl = nullptr; // 1014
    CIPAddressCtrl* endControl = nullptr;   // 1008
    CComboBox* adapterCombo = nullptr;      // 1007
    CEdit* folderEdit = nullptr;            // 1011
    CButton* autoCheck = nullptr;           // 1009
    CWnd* folderDefault = nullptr;          // 1012

    DECLARE_MESSAGE_MAP()
};
