// The main dialog: set-up, the timer's heartbeat, menus and context menus,
// the commands, and closing with the column widths saved.
#include "VistrelDlg.h"

#include "AboutDlg.h"
#include "ComFailure.h"
#include "FirmwareCommand.h"
#include "IniFile.h"
#include "IpAssignDlg.h"
#include "LauncherSelect.h"
#include "resource.h"

#include <afxdlgs.h>

#include <algorithm>
#include <cstring>

BEGIN_MESSAGE_MAP(CVistrelDlg, CDialog)
ON_WM_TIMER()
ON_WM_SIZE()
ON_WM_CLOSE()
ON_WM_DESTROY()
ON_WM_QUERYDRAGICON()
ON_WM_CONTEXTMENU()
ON_NOTIFY(NM_CLICK, IDC_DEVICE_LIST, &CVistrelDlg::OnListClick)
ON_NOTIFY(NM_RCLICK, IDC_DEVICE_LIST, &CVistrelDlg::OnListClick)
ON_NOTIFY(NM_DBLCLK, IDC_DEVICE_LIST, &CVistrelDlg::OnListDoubleClick)
ON_NOTIFY(HDN_ENDTRACKA, IDC_LIST_HEADER, &CVistrelDlg::OnHeaderEndTrack)
ON_NOTIFY(HDN_ITEMCLICKA, IDC_LIST_HEADER, &CVistrelDlg::OnHeaderItemClick)
ON_COMMAND(ID_VELTRIX_CLOSE, &CVistrelDlg::CloseAndSave)
ON_COMMAND(ID_EDIT_COPY_ROWS, &CVistrelDlg::OnCopy)
ON_COMMAND(ID_EDIT_SELECT_ALL, &CVistrelDlg::OnSelectAll)
ON_COMMAND(ID_VIEW_REFRESH, &CVistrelDlg::OnRefresh)
ON_COMMAND(ID_VIEW_COLUMN_CHOOSER, &CVistrelDlg::OnColumnChooser)
ON_COMMAND(ID_HELP_ABOUT, &CVistrelDlg::OnAbout)
ON_COMMAND(ID_NEW_IP_ADDRESS, &CVistrelDlg::OnNewIpAddress)
ON_COMMAND(ID_UPDATE_FIRMWARE, &CVistrelDlg::OnUpdateFirmware)
ON_COMMAND(ID_TOOLS_CONFIGURE, &CVistrelDlg::OnConfigure)
ON_COMMAND(ID_TOOLS_REPORT, &CVistrelDlg::OnReport)
ON_COMMAND(ID_TOOLS_OPTIONS, &CVistrelDlg::OnOptions)
ON_COMMAND_RANGE(ID_HEADER_FIRST, ID_HEADER_LAST, &CVistrelDlg::OnHeaderMenu)
ON_MESSAGE(WM_LAUNCHER_SELECT, &CVistrelDlg::OnLauncherSelect)
END_MESSAGE_MAP()

CVistrelDlg::CVistrelDlg(CWnd* parent)
    : CDialog(IDD_VISTREL_DIALOG, parent), configureAllowed(true),
      icon(::LoadIcon(AfxGetInstanceHandle(), MAKEINTRESOURCE(IDR_MAINFRAME))),
      refreshPeriod(static_cast<UINT>(
          std::max(ReadIniInt("Configuration", "SCR Refresh Period", 2000), int(USER_TIMER_MINIMUM)))),
      options(this)
{
    if (ReadIniInt("Configuration", "veltrixmon debug", 0))
        AllocConsole();
}

CVistrelDlg::~CVistrelDlg() = default;

BOOL CVistrelDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(icon, TRUE);
    SetWindowText("Veltrix(tm) Discovery");
    layout.Register(this);

    list = static_cast<CListCtrl*>(GetDlgItem(IDC_DEVICE_LIST));
    list->SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_SUBITEMIMAGES);
    list->GetHeaderCtrl()->SetDlgCtrlID(IDC_LIST_HEADER);

    layout.Add(list, DialogLayout::stretch_vertical | DialogLayout::stretch_horizontal);
    layout.Add(GetDlgItem(IDC_STATUS_SPARE), DialogLayout::stretch_horizontal | DialogLayout::move_down);
    for (int id : {IDC_DEVICE_COUNT, IDC_ACTIVE_COUNT, IDC_DEAD_COUNT})
        layout.Add(GetDlgItem(id), DialogLayout::move_right | DialogLayout::move_down);

    BuildListMenu();

    Icom_adapter* adapter = options.current_adapter();
    pollView.StartDiscovery(adapter);
    if (adapter)
        adapter->Release();

    headerMenu.CreatePopupMenu();
    pollView.m_pParentWnd = this;
    pollView.SetUpList(list, &headerMenu, moreCommandId);

    SetTimer(1, refreshPeriod);
    return TRUE;
}

void CVistrelDlg::BuildListMenu()
{
    listMenu.CreatePopupMenu();
    CMenu* bar = GetMenu();
    const int popups = bar ? bar->GetMenuItemCount() : 0;
    for (int p = 0; p < popups; ++p) {
        CMenu* popup = bar->GetSubMenu(p);
        if (!popup)
            continue;
        for (int i = 0; i < popup->GetMenuItemCount(); ++i) {
            CString text;
            popup->GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
            if (text.IsEmpty())
                continue;
            const UINT id = popup->GetMenuItemID(i);
            const UINT grey = popup->GetMenuState(static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED;
            listMenu.AppendMenu(MF_STRING | grey, id, text);
        }
        listMenu.AppendMenu(MF_SEPARATOR);
    }
    const int count = listMenu.GetMenuItemCount();
    if (count > 0)
        listMenu.RemoveMenu(static_cast<UINT>(count - 1), MF_BYPOSITION);
}

void CVistrelDlg::OnOK() {}

void CVistrelDlg::OnCancel() {}

void CVistrelDlg::WinHelp(DWORD_PTR, UINT command)
{
    if (command == HELP_CONTEXT)
        OnAbout();
}

void CVistrelDlg::OnTimer(UINT_PTR id)
{
    if (id != 1) {
        CDialog::OnTimer(id);
        return;
    }
    if (!FatalErrorInProgress())
        Tick();
}

void CVistrelDlg::Tick()
{
    pollView.Refresh();
    pollView.NotifyAll();
    pollView.UpdateView();
    const int devices = pollView.Count(), active = pollView.ActiveCount();
    CString text;
    text.Format("Devices: %d", devices);
    SetDlgItemText(IDC_DEVICE_COUNT, text);
    text.Format("Active: %d", active);
    SetDlgItemText(IDC_ACTIVE_COUNT, text);
    text.Format("Dead: %d", devices - active);
    SetDlgItemText(IDC_DEAD_COUNT, text);
}

void CVistrelDlg::EnableCommand(UINT id, bool enable)
{
    const UINT flags = MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED);
    if (CMenu* bar = GetMenu()) {
        for (int p : {0, 3})
            if (CMenu* popup = bar->GetSubMenu(p))
                popup->EnableMenuItem(id, flags);
    }
    listMenu.EnableMenuItem(id, flags);
}

void CVistrelDlg::UpdateMenus()
{
    const int selected = list ? list->GetSelectedCount() : 0;
    EnableCommand(ID_UPDATE_FIRMWARE, selected >= 1);
    EnableCommand(ID_NEW_IP_ADDRESS, selected >= 1);
    EnableCommand(ID_TOOLS_REPORT, selected >= 1);
    EnableCommand(ID_TOOLS_CONFIGURE, selected == 1 && configureAllowed);
}

void CVistrelDlg::OnSize(UINT type, int cx, int cy)
{
    CDialog::OnSize(type, cx, cy);
    layout.Relayout();
}

void CVistrelDlg::OnClose() { CloseAndSave(); }

void CVistrelDlg::CloseAndSave()
{
    pollView.Save(list->GetHeaderCtrl());
    list->SetImageList(static_cast<HIMAGELIST>(nullptr), LVSIL_SMALL);
    const char* const section = "Width of Default Columns";
    WriteIniText(section, "Status Col Width", std::to_string(list->GetColumnWidth(0)));
    WriteIniText(section, "MAC Address", std::to_string(list->GetColumnWidth(1)));
    WriteIniText(section, "IP Address", std::to_string(list->GetColumnWidth(2)));
    CDialog::OnOK();
}

void CVistrelDlg::OnDestroy()
{
    WinHelp(0, HELP_QUIT);
    CDialog::OnDestroy();
}

HCURSOR CVistrelDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(icon); }

void CVistrelDlg::OnContextMenu(CWnd*, CPoint point)
{
    CPoint at = point;
    list->ScreenToClient(&at);
    CRect header;
    list->GetHeaderCtrl()->GetClientRect(&header);
    if (at.x > 0 && at.x < header.right && at.y > 0 && at.y < header.bottom) {
        pollView.CheckHeaderMenu(&headerMenu);
        headerMenu.TrackPopupMenu(TPM_RIGHTBUTTON, point.x, point.y, this);
        return;
    }
    CRect client;
    list->GetClientRect(&client);
    if (at.x > 0 && at.x < client.right && at.y > 0 && at.y < client.bottom) {
        UpdateMenus(); // the menu opens on the press, before the list's click notification
        listMenu.TrackPopupMenu(TPM_RIGHTBUTTON, point.x, point.y, this);
    }
}

void CVistrelDlg::OnListClick(NMHDR*, LRESULT*) { UpdateMenus(); }

void CVistrelDlg::OnListDoubleClick(NMHDR*, LRESULT*) { OnConfigure(); }

void CVistrelDlg::OnHeaderEndTrack(NMHDR* header, LRESULT*)
{
    const auto* notice = reinterpret_cast<const NMHEADER*>(header);
    if (notice->pitem)
        pollView.SetColumnWidth(notice->iItem, notice->pitem->cxy);
}

void CVistrelDlg::OnHeaderItemClick(NMHDR* header, LRESULT*)
{
    pollView.SortBy(reinterpret_cast<const NMHEADER*>(header)->iItem);
}

void CVistrelDlg::OnHeaderMenu(UINT id)
{
    if (id < moreCommandId) {
        const bool shown = headerMenu.GetMenuState(id, MF_BYCOMMAND) == MF_CHECKED;
        if (pollView.SetVisible(static_cast<int>(id), !shown))
            headerMenu.CheckMenuItem(id, MF_BYCOMMAND | (shown ? MF_UNCHECKED : MF_CHECKED));
    } else if (id == moreCommandId) {
        OnColumnChooser();
    }
}

void CVistrelDlg::OnCopy()
{
    CWaitCursor wait;
    if (!OpenClipboard(m_hWnd))
        return;
    if (EmptyClipboard()) {
        std::string text;
        pollView.CopyText(text);
        if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 2)) {
            std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
            GlobalUnlock(memory);
            if (!SetClipboardData(CF_TEXT, memory))
                GlobalFree(memory);
        }
    }
    CloseClipboard();
}

void CVistrelDlg::OnSelectAll()
{
    list->SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
    UpdateMenus();
}

void CVistrelDlg::OnRefresh()
{
    pollView.Clear();
    UpdateMenus(); // the rows, and with them the selection, are gone
}

void CVistrelDlg::OnColumnChooser() { pollView.DoModal(); }

void CVistrelDlg::OnAbout()
{
    CAboutDlg about(this);
    about.DoModal();
}

void CVistrelDlg::OnNewIpAddress()
{
    // The rows are taken before the first dialog: the timer goes on inserting
    // rows under it, which moves the selection's indexes.
    struct Target {
        std::string mac;
        std::string ip;
    };
    std::vector<Target> targets;
    for (int row = list->GetNextItem(-1, LVNI_SELECTED); row >= 0; row = list->GetNextItem(row, LVNI_SELECTED))
        targets.push_back({list->GetItemText(row, 1).str(), list->GetItemText(row, 2).str()});

    for (const Target& target : targets) {
        qm::ip_address_t network, mask;
        try {
            network = pollView.AdapterNetwork();
            mask = pollView.AdapterMask();
        } catch (const _com_error& e) {
            ReportComError(e, "COM Scoutline access error(get subnet).");
        }
        CIpAssignDlg dialog(target.mac, target.ip, network, mask, this);
        const INT_PTR result = dialog.DoModal();
        if (result == -1)
            AfxMessageBox("Dialog box of assigning IP address could not be created.");
        else if (result == IDOK)
            pollView.SetDeviceAddress(target.mac, dialog.NewAddress());
        else if (result == IDABORT)
            AfxMessageBox("Dialog box of assigning IP address creation errors.");
    }
}

void CVistrelDlg::OnUpdateFirmware() { UpdateFirmware(*this, *list, options.firmware_folder()); }

void CVistrelDlg::OnOptions()
{
    const INT_PTR result = options.DoModal();
    if (result == -1) {
        AfxMessageBox("Configuration dialog box could not be created.");
    } else if (result == IDOK) {
        if (options.adapter_changed()) {
            CWaitCursor wait;
            Icom_adapter* adapter = options.current_adapter();
            pollView.StartDiscovery(adapter);
            if (adapter)
                adapter->Release();
        } else {
            pollView.SetAddressRange(options.ip_start(), options.ip_end(), options.autoassign());
        }
    } else if (result == IDABORT) {
        AfxMessageBox("Configuration dialog box creation errors.");
    }
    UpdateMenus();
}
