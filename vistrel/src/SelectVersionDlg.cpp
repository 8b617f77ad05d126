#include "SelectVersionDlg.h"

#include "ComFailure.h"
#include "FirmwareResource.h"
#include "IniFile.h"
#include "ServerCalls.h"

#include <fstream>

namespace {

const int boot_buttons[] = {IDC_BOOT_IF_NECESSARY, IDC_BOOT_IF_DIFFERENT, IDC_BOOT_ALWAYS};
const int code_buttons[] = {IDC_CODE_IF_DIFFERENT, IDC_CODE_ALWAYS};
const int config_buttons[] = {IDC_CONFIG_NEVER, IDC_CONFIG_IF_DIFFERENT, IDC_CONFIG_ALWAYS, IDC_CONFIG_AUTOMATIC};

long Number(HRESULT (Iversion::*get)(long*), Iversion* version)
{
    long value = 0;
    CheckCall((version->*get)(&value), version);
    return value;
}

std::string Text(HRESULT (Iversion::*get)(BSTR*), Iversion* version)
{
    BSTR text = nullptr;
    CheckCall((version->*get)(&text), version);
    return TakeText(text);
}

long Flag(HRESULT (Iupdate_check::*get)(long*), Iupdate_check* check)
{
    long value = 0;
    CheckCall((check->*get)(&value), check);
    return value;
}

long UnitType(Iunit* unit)
{
    long type = -1;
    CheckCall(unit->get_type(&type), unit);
    return type;
}

// Position of the ticked button among the ids, or -1.
int Ticked(CWnd& dialog, const int* ids, int count)
{
    for (int i = 0; i < count; ++i)
        if (dialog.IsDlgButtonChecked(ids[i]) == BST_CHECKED)
            return i;
    return -1;
}

} // namespace

bool SuitableImage(long unitType, long versionType, int64_t fileLength)
{
    switch (unitType) {
    case 0:
        return versionType == 0 && fileLength == 0x20000;
    case 1:
        return versionType == 1 && fileLength == 0x80000;
    case 2:
    case 3:
        return versionType == 2 && fileLength == 0x100000;
    case 4:
    case 5:
        return versionType == 4 && fileLength == 0x100000;
    default:
        return false;
    }
}

std::string UpdateWarning(bool boot, bool config, bool cedar)
{
    std::string text;
    if (boot || config) {
        text = "Updating to this version requires reprogramming the ";
        text += boot && config ? "boot code and configuration records."
            : boot             ? "boot code."
                               : "configuration records.";
        text += " The Veltrix device may become inoperable in the event of failure.";
    }
    if (cedar) {
        if (!text.empty())
            text += "\r\n\r\n";
        text += "Due to system constraints, failure during this CEDAR firmware upgrade may render the device "
                "inoperable.";
    }
    return text;
}

std::string WrapWarning(const std::string& text)
{
    std::string wrapped;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr)
            line.pop_back();
        while (line.size() > 69) {
            const size_t blank = line.rfind(' ', 69);
            const size_t cut = blank == std::string::npos ? 70 : blank + 1;
            wrapped += line.substr(0, cut) + "\r\n";
            line.erase(0, cut);
        }
        wrapped += line;
        if (end == std::string::npos)
            return wrapped;
        wrapped += cr ? "\r\n" : "\n";
        start = end + 1;
    }
}

BEGIN_MESSAGE_MAP(CSelectVersionDlg, CDialog)
ON_BN_CLICKED(IDC_SHOW_ALL_VERSIONS, &CSelectVersionDlg::OnShowAll)
ON_BN_CLICKED(IDC_UPDATE_VERSION, &CSelectVersionDlg::OnUpdate)
END_MESSAGE_MAP()

CSelectVersionDlg::CSelectVersionDlg(Iversion* current, Iversion* favoured, Icom_vector* compatible,
                                     Icom_vector* customCompatible, Icom_vector* sameType, Iunit* unit, CWnd* parent)
    : CDialog(IDD_SELECT_VERSION, parent), current(current), favoured(favoured), compatible(compatible),
      customCompatible(customCompatible), sameType(sameType), unit(unit),
      advanced(ReadIniInt("Configuration", "Advanced Feature", 0) != 0)
{}

CSelectVersionDlg::~CSelectVersionDlg() = default;

BOOL CSelectVersionDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    list = static_cast<CListBox*>(GetDlgItem(IDC_VERSION_LIST));
    CheckRadioButton(IDC_BOOT_IF_NECESSARY, IDC_BOOT_ALWAYS, IDC_BOOT_IF_NECESSARY);
    CheckRadioButton(IDC_CODE_IF_DIFFERENT, IDC_CODE_ALWAYS, IDC_CODE_IF_DIFFERENT);
    try {
        if (advanced)
            ShowAdvanced(UnitType(unit));
        else
            Shorten();

        BSTR customText = nullptr;
        CheckCall(unit->get_custom(&customText), unit);
        const std::string custom = TakeText(customText);
        const std::string name = Text(&Iversion::get_name, current);
        if (custom.empty()) {
            SetDlgItemText(IDC_CURRENT_VERSION, name.c_str());
            ShowCompatible();
            list->SelectString(-1, Text(&Iversion::get_name, favoured).c_str());
        } else if (advanced) {
            SetDlgItemText(IDC_CURRENT_VERSION, (name + " [custom: " + custom + "]").c_str());
            ShowCompatible();
        } else {
            SetDlgItemText(IDC_CURRENT_VERSION, "Unknown");
        }

        long compatibleCount = 0, customCount = 0;
        CheckCall(compatible->get_length(&compatibleCount), compatible);
        CheckCall(customCompatible->get_length(&customCount), customCompatible);
        if (advanced && compatibleCount == 0 && customCount == 0) {
            ShowAll();
            CheckDlgButton(IDC_SHOW_ALL_VERSIONS, BST_CHECKED);
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(select version).");
    }
    return TRUE;
}

void CSelectVersionDlg::ShowAdvanced(long unitType)
{
    for (int id : {IDC_SHOW_ALL_VERSIONS, IDC_BOOT_GROUP, IDC_CODE_GROUP, IDC_CONFIG_GROUP})
        GetDlgItem(id)->ShowWindow(SW_SHOW);
    for (int id : boot_buttons)
        GetDlgItem(id)->ShowWindow(SW_SHOW);
    for (int id : code_buttons)
        GetDlgItem(id)->ShowWindow(SW_SHOW);
    // Only birch and birchamd devices choose how their configuration is written.
    const bool configurable = unitType == 4 || unitType == 5;
    for (int id : config_buttons) {
        GetDlgItem(id)->ShowWindow(SW_SHOW);
        GetDlgItem(id)->EnableWindow(configurable);
    }
    CheckRadioButton(IDC_CONFIG_NEVER, IDC_CONFIG_AUTOMATIC, configurable ? IDC_CONFIG_AUTOMATIC : IDC_CONFIG_NEVER);
}

// Without the advanced controls the buttons move up to where "Show all
// Firmware Versions" begins, and the window loses that height.
void CSelectVersionDlg::Shorten()
{
    CRect showAll, update, window;
    GetDlgItem(IDC_SHOW_ALL_VERSIONS)->GetWindowRect(&showAll);
    GetDlgItem(IDC_UPDATE_VERSION)->GetWindowRect(&update);
    const int distance = update.top - showAll.top;
    GetWindowRect(&window);
    SetWindowPos(nullptr, 0, 0, window.Width(), window.Height() - distance, SWP_NOMOVE | SWP_NOZORDER);
    for (int id : {IDC_UPDATE_VERSION, IDCANCEL}) {
        CWnd* button = GetDlgItem(id);
        CRect r;
        button->GetWindowRect(&r);
        ScreenToClient(&r);
        button->MoveWindow(r.left, r.top - distance, r.Width(), r.Height());
    }
}

void CSelectVersionDlg::AddVersions(Icom_vector* versions, long offset)
{
    long count = 0;
    CheckCall(versions->get_length(&count), versions);
    for (long i = 0; i < count; ++i) {
        CComPtr<IDispatch> item;
        CheckCall(versions->at(i, &item), versions);
        CComPtr<Iversion> version = QueryAs<Iversion>(item);
        CheckObject(version);
        if (!Number(&Iversion::get_exists, version))
            continue;
        const std::string name = Text(&Iversion::get_name, version);
        list->AddString(name.c_str());
        indexOf[name] = offset + i;
    }
}

void CSelectVersionDlg::ShowCompatible()
{
    try {
        list->ResetContent();
        indexOf.clear();
        allView = false;
        long count = 0;
        CheckCall(compatible->get_length(&count), compatible);
        AddVersions(compatible, 0);
        AddVersions(customCompatible, count);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(show compatible version).");
    }
}

void CSelectVersionDlg::ShowAll()
{
    try {
        list->ResetContent();
        indexOf.clear();
        allView = true;
        AddVersions(sameType, 0);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(show all version).");
    }
}

void CSelectVersionDlg::OnShowAll()
{
    if (IsDlgButtonChecked(IDC_SHOW_ALL_VERSIONS) == BST_CHECKED)
        ShowAll();
    else
        ShowCompatible();
}

void CSelectVersionDlg::OnUpdate()
{
    const int selection = list->GetCurSel();
    if (selection < 0) {
        MessageBox("No Firmware is Selected\nPlease Select Firmware", "Warning", MB_OK);
        return;
    }
    try {
        CComPtr<Iversion> version = SelectedVersion(selection);
        const long unitType = UnitType(unit);
        if (!Suitable(version, unitType)) {
            MessageBox("The selected version is not suitable for this device.", "Select Version", MB_OK);
            return;
        }
        const int boot = Ticked(*this, boot_buttons, 3);
        const int code = Ticked(*this, code_buttons, 2);
        bootRange = boot < 0 ? 0 : boot;
        codeRange = code < 0 ? 0 : code;
        configRange = ConfigRangeFor(version);
        if (!ConfirmWarning(version, unitType))
            return;
        applyToAll = IsDlgButtonChecked(IDC_APPLY_TO_ALL) == BST_CHECKED;
        chosen = version;
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(select version).");
    }
    EndDialog(IDOK);
}

CComPtr<Iversion> CSelectVersionDlg::SelectedVersion(int selection)
{
    CString text;
    list->GetText(selection, text);
    const long index = indexOf[text.str()];
    long compatibleCount = 0;
    CheckCall(compatible->get_length(&compatibleCount), compatible);
    Icom_vector* from = allView ? sameType : index < compatibleCount ? compatible : customCompatible;
    const long at = allView || index < compatibleCount ? index : index - compatibleCount;
    CComPtr<IDispatch> item;
    CheckCall(from->at(at, &item), from);
    CComPtr<Iversion> version = QueryAs<Iversion>(item);
    CheckObject(version);
    return version;
}

// The image file must be of the device's kind and size; a file that cannot
// be read is left to the write to report.
bool CSelectVersionDlg::Suitable(Iversion* version, long unitType)
{
    std::ifstream file(Text(&Iversion::get_path, version), std::ios::binary | std::ios::ate);
    if (!file)
        return true;
    const std::streamoff length = file.tellg();
    return SuitableImage(unitType, Number(&Iversion::get_type, version), length);
}

long CSelectVersionDlg::ConfigRangeFor(Iversion* version)
{
    const int config = Ticked(*this, config_buttons, 4);
    if (config < 0 || config == 3) {
        long compatibleWith = 0;
        CheckCall(current->get_is_compatible(version, &compatibleWith), current);
        return compatibleWith ? 1 : 0;
    }
    return config;
}

bool CSelectVersionDlg::ConfirmWarning(Iversion* version, long unitType)
{
    CComPtr<IDispatch> result;
    CheckCall(unit->check_update(version, &result), unit);
    CComPtr<Iupdate_check> check = QueryAs<Iupdate_check>(result);
    CheckObject(check);
    const bool boot = Flag(&Iupdate_check::get_boot_update, check) ||
        (Flag(&Iupdate_check::get_boot_differs, check) && bootRange == 1) || bootRange == 2;
    const bool config = (Flag(&Iupdate_check::get_config_update, check) && configRange == 1) || configRange == 2;
    const std::string warning = UpdateWarning(boot, config, unitType == 0);
    if (warning.empty())
        return true;
    return MessageBox(WrapWarning(warning).c_str(), "Select Version", MB_OKCANCEL | MB_DEFBUTTON2) == IDOK;
}
