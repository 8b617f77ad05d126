// The Options dialog: the discovery server's adapters with their ranges and
// automatic assignment, and the firmware folder.
#include "OptionsDlg.h"

#include "ComFailure.h"
#include "DeviceTable.h"
#include "IniFile.h"
#include "ServerCalls.h"
#include "resource.h"

#include <afxdlgs.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <strings.h>

BEGIN_MESSAGE_MAP(COptionsDlg, CDialog)
ON_CBN_SELCHANGE(IDC_ADAPTER, &COptionsDlg::OnAdapterChange)
ON_BN_CLICKED(IDC_AUTO_ASSIGN, &COptionsDlg::OnAutoAssign)
ON_NOTIFY(IPN_FIELDCHANGED, IDC_IP_START, &COptionsDlg::OnRangeStart)
ON_NOTIFY(IPN_FIELDCHANGED, IDC_IP_END, &COptionsDlg::OnRangeEnd)
ON_BN_CLICKED(IDC_RANGE_DEFAULT, &COptionsDlg::OnRangeDefault)
ON_EN_CHANGE(IDC_FIRMWARE_FOLDER, &COptionsDlg::OnFolderChange)
ON_BN_CLICKED(IDC_FOLDER_DEFAULT, &COptionsDlg::OnFolderDefault)
ON_BN_CLICKED(IDC_FOLDER_BROWSE, &COptionsDlg::OnFolderBrowse)
END_MESSAGE_MAP()

namespace {

const char* const created_failure = "COM Scoutline can't be created.";

// An adapter's interface from the manager, by name.
CComPtr<Icom_adapter> GetAdapter(Imanager* manager, const std::string& name)
{
    CheckObject(manager);
    CComPtr<IDispatch> object;
    CheckCall(manager->adapter_get(_bstr_t(name.c_str()), &object.p), manager);
    CComPtr<Icom_adapter> adapter = QueryAs<Icom_adapter>(object);
    CheckObject(adapter);
    return adapter;
}

std::string GetText(HRESULT (Icom_adapter::*get)(BSTR*), Icom_adapter* adapter)
{
    BSTR text = nullptr;
    CheckCall((adapter->*get)(&text), adapter);
    return TakeText(text);
}

} // namespace

COptionsDlg::COptionsDlg(CWnd* parent) : CDialog(IDD_OPTIONS, parent), programDirectory(GetProgramDirectory())
{
    current = adapterMap.end();
    selection = working.end();
    CreateManager();
    ReadAdapters();
    ConsoleLog().Write("Scoutline object is created");
    LoadSettings();
}

COptionsDlg::~COptionsDlg()
{
    SaveSettings();
    manager.Release();
}

void COptionsDlg::CreateManager()
{
    try {
        const HRESULT hr = CreateServerObject(CLSID_manager, manager);
        if (FAILED(hr))
            throw ErrorWithInfo(hr);
        if (ReadIniInt("Scoutline", "show_console", 0))
            CheckCall(manager->show_console(), manager.p);
    } catch (const _com_error& e) {
        ConsoleLog().Write(created_failure);
        ReportComError(e, created_failure);
    }
}

void COptionsDlg::ReadAdapters()
{
    try {
        CheckObject(manager);
        CComPtr<IDispatch> object;
        CheckCall(manager->get_adapters(&object.p), manager.p);
        CComPtr<Icom_bstr_vector> names = QueryAs<Icom_bstr_vector>(object);
        CheckObject(names);
        for (LONG i = 0;; ++i) {
            LONG length = 0;
            CheckCall(names->get_length(&length), names.p);
            if (i >= length)
                break;
            BSTR text = nullptr;
            CheckCall(names->at(i, &text), names.p);
            const std::string name = TakeText(text);
            CComPtr<Icom_adapter> adapter = GetAdapter(manager, name);
            AdapterSettings settings;
            settings.ip_start = GetText(&Icom_adapter::get_ip_start, adapter);
            settings.ip_end = GetText(&Icom_adapter::get_ip_end, adapter);
            LONG on = 0;
            CheckCall(adapter->get_autoassign(&on), adapter.p);
            settings.autoassign = on != 0;
            adapterMap[name] = settings;
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(get IP).");
    }
}

void COptionsDlg::LoadSettings()
{
    IniFile ini(VistrelIniPath());
    for (const auto& [key, value] : ini.read_section("Adapter List")) {
        // name-----start,end,flag; entries without that shape are skipped.
        const size_t dashes = value.find("-----");
        if (dashes == std::string::npos)
            continue;
        const std::string rest = value.substr(dashes + 5);
        const size_t comma1 = rest.find(',');
        const size_t comma2 = comma1 == std::string::npos ? comma1 : rest.find(',', comma1 + 1);
        if (comma2 == std::string::npos)
            continue;
        auto entry = adapterMap.find(value.substr(0, dashes));
        if (entry == adapterMap.end())
            continue;
        entry->second.ip_start = rest.substr(0, comma1);
        entry->second.ip_end = rest.substr(comma1 + 1, comma2 - comma1 - 1);
        entry->second.autoassign = std::atoi(rest.substr(comma2 + 1).c_str()) != 0;
    }
    ini.set_section("Configuration");
    current = adapterMap.find(ini.get_string("Adapter Index", "0"));
    if (current == adapterMap.end())
        current = adapterMap.begin();
    firmwareFolder = ini.get_string("Firmware Location", DefaultFolder());
}

void COptionsDlg::SaveSettings()
{
    // Replaced in one rewrite of the file: a failed write loses no entry.
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [name, settings] : adapterMap) {
        entries.emplace_back("Adapter " + std::to_string(entries.size()),
                             name + "-----" + settings.ip_start + "," + settings.ip_end + "," +
                                 (settings.autoassign ? "1" : "0"));
    }
    WriteIniSection("Adapter List", entries);
    if (current != adapterMap.end())
        WriteIniText("Configuration", "Adapter Index", current->first);
    WriteIniText("Configuration", "Firmware Location", firmwareFolder);
}

std::string COptionsDlg::current_name() const { return current == adapterMap.end() ? std::string() : current->first; }

std::string COptionsDlg::ip_start() const
{
    return current == adapterMap.end() ? std::string() : current->second.ip_start;
}

std::string COptionsDlg::ip_end() const { return current == adapterMap.end() ? std::string() : current->second.ip_end; }

bool COptionsDlg::autoassign() const { return current != adapterMap.end() && current->second.autoassign; }

Icom_adapter* COptionsDlg::current_adapter()
{
    if (current == adapterMap.end())
        return nullptr;
    try {
        CComPtr<Icom_adapter> adapter = GetAdapter(manager, current->first);
        CheckCall(adapter->put_ip_start(_bstr_t(current->second.ip_start.c_str())), adapter.p);
        CheckCall(adapter->put_ip_end(_bstr_t(current->second.ip_end.c_str())), adapter.p);
        CheckCall(adapter->put_autoassign(current->second.autoassign ? 1 : 0), adapter.p);
        return adapter.Detach();
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(adapter_get). ");
    }
}

BOOL COptionsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    startControl = static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_IP_START));
    endControl = static_cast<CIPAddressCtrl*>(GetDlgItem(IDC_IP_END));
    adapterCombo = static_cast<CComboBox*>(GetDlgItem(IDC_ADAPTER));
    folderEdit = static_cast<CEdit*>(GetDlgItem(IDC_FIRMWARE_FOLDER));
    autoCheck = static_cast<CButton*>(GetDlgItem(IDC_AUTO_ASSIGN));
    folderDefault = GetDlgItem(IDC_FOLDER_DEFAULT);

    working = adapterMap;
    selection = working.find(current_name());
    int position = 0;
    for (auto it = working.begin(); it != working.end(); ++it, ++position) {
        adapterCombo->InsertString(position, it->first.c_str());
        if (it == selection)
            adapterCombo->SetCurSel(position);
    }
    ShowSelection();
    folderEdit->SetWindowText(firmwareFolder.c_str());
    adapterChanged = false;
    return TRUE;
}

void COptionsDlg::ShowSelection()
{
    if (selection != working.end()) {
        startControl->SetAddress(ParseIp(selection->second.ip_start).number);
        endControl->SetAddress(ParseIp(selection->second.ip_end).number);
        autoCheck->SetCheck(selection->second.autoassign ? BST_CHECKED : BST_UNCHECKED);
    }
    EnableRule();
}

void COptionsDlg::EnableRule()
{
    const bool manual = selection == working.end() || !selection->second.autoassign;
    startControl->EnableWindow(manual);
    endControl->EnableWindow(manual);
    GetDlgItem(IDC_RANGE_DEFAULT)->EnableWindow(manual);
}

void COptionsDlg::OnAdapterChange()
{
    CString name;
    adapterCombo->GetLBText(adapterCombo->GetCurSel(), name);
    selection = working.find(name.str());
    ShowSelection();
}

void COptionsDlg::OnAutoAssign()
{
    if (selection != working.end())
        selection->second.autoassign = autoCheck->GetCheck() != 0;
    EnableRule();
}

std::string COptionsDlg::FieldsText(CIPAddressCtrl* control) const
{
    BYTE b0 = 0, b1 = 0, b2 = 0, b3 = 0;
    control->GetAddress(b0, b1, b2, b3);
    return std::to_string(b0) + "." + std::to_string(b1) + "." + std::to_string(b2) + "." + std::to_string(b3);
}

void COptionsDlg::OnRangeStart(NMHDR*, LRESULT* result)
{
    if (selection != working.end())
        selection->second.ip_start = FieldsText(startControl);
    *result = 0;
}

void COptionsDlg::OnRangeEnd(NMHDR*, LRESULT* result)
{
    if (selection != working.end())
        selection->second.ip_end = FieldsText(endControl);
    *result = 0;
}

void COptionsDlg::OnRangeDefault()
{
    if (selection == working.end())
        return;
    try {
        CComPtr<Icom_adapter> adapter = GetAdapter(manager, selection->first);
        selection->second.ip_start = GetText(&Icom_adapter::get_ip_start_default, adapter);
        selection->second.ip_end = GetText(&Icom_adapter::get_ip_end_default, adapter);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline access error(IpRange). ");
    }
    ShowSelection();
}

void COptionsDlg::OnFolderChange()
{
    CString text;
    folderEdit->GetWindowText(text);
    folderDefault->EnableWindow(strcasecmp(text.GetString(), DefaultFolder().c_str()) != 0);
}

void COptionsDlg::OnFolderDefault() { folderEdit->SetWindowText(DefaultFolder().c_str()); }

void COptionsDlg::OnFolderBrowse()
{
    CString folder;
    folderEdit->GetWindowText(folder);
    CFileDialog picker(TRUE, "*.ini", (folder.str() + "/database.ini").c_str(), OFN_HIDEREADONLY,
                       "firmware database files (database.ini)|database.ini||", this);
    const INT_PTR answer = picker.DoModal();
    if (answer == IDCANCEL)
        return;
    if (answer != IDOK) {
        MessageBox("browser dialog box creation errors.");
        return;
    }
    // The folder is the path without its file name "database.ini" (in any
    // letter case); the folder keeps its case: the file system tells case apart.
    const std::string path = picker.GetPathName().str();
    const std::string name = "/database.ini";
    if (path.size() < name.size())
        return;
    const size_t at = path.size() - name.size();
    std::string tail = path.substr(at);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    if (tail == name)
        folderEdit->SetWindowText(path.substr(0, at).c_str());
}

bool COptionsDlg::RangesInOrder()
{
    int position = 0;
    for (auto it = working.begin(); it != working.end(); ++it, ++position) {
        if (ParseIp(it->second.ip_start).number <= ParseIp(it->second.ip_end).number)
            continue;
        // Such a range gives no address: new devices would stay at 0.0.0.0.
        selection = it;
        adapterCombo->SetCurSel(position);
        ShowSelection();
        MessageBox("The start of the IP address range is above its end.");
        return false;
    }
    return true;
}

void COptionsDlg::OnOK()
{
    if (!RangesInOrder())
        return;
    const std::string chosen = selection == working.end() ? std::string() : selection->first;
    adapterChanged = chosen != current_name();
    adapterMap = working;
    current = adapterMap.find(chosen);
    CString folder;
    folderEdit->GetWindowText(folder);
    firmwareFolder = folder.str();
    working.clear();
    selection = working.end();
    EndDialog(IDOK);
}

void COptionsDlg::OnCancel()
{
    working.clear();
    selection = working.end();
    EndDialog(IDCANCEL);
}
