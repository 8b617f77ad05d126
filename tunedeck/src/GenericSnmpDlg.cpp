// The generic SNMP dialog.
#include "GenericSnmpDlg.h"

#include <cstdio>
#include <vector>

#include "DialogCommon.h"
#include "NumberText.h"
#include "SnmpVarTable.h"
#include "resource.h"

using namespace snmpvars;

namespace {

// Type combo positions and the value kinds they stand for.
const char* const kTypeTexts[] = {"Integer", "String", "Octets", "IP"};
const int kTypeKinds[] = {KIND_INTEGER, KIND_TEXT, KIND_OCTETS, KIND_IPADDRESS};
constexpr int kTypeCount = 4;

constexpr int kOidChars = 255;
constexpr int kIndexChars = 6;
constexpr int kOctetsMax = 64;
constexpr int kTextMax = 256;

// Type combo position for a row type.
int TypePosition(int32_t type)
{
    switch (type) {
    case TYPE_OCTETS:
        return 2;
    case TYPE_TEXT:
        return 1;
    case TYPE_INTEGER:
        return 0;
    case TYPE_IPADDRESS:
        return 3;
    default:
        return -1;
    }
}

} // namespace

BEGIN_MESSAGE_MAP(CGenericSnmpDlg, CDialog)
ON_CBN_SELCHANGE(IDC_GROUP, &CGenericSnmpDlg::OnGroup)
ON_CONTROL_RANGE(CBN_SELCHANGE, IDC_VARIABLE_FIRST, IDC_VARIABLE_FIRST + kGroups - 1, &CGenericSnmpDlg::OnVariable)
ON_BN_CLICKED(IDC_RESET_OID, &CGenericSnmpDlg::OnResetOid)
ON_BN_CLICKED(IDC_RO, &CGenericSnmpDlg::OnReadOnly)
ON_BN_CLICKED(IDC_FORM_OID, &CGenericSnmpDlg::OnFormOid)
ON_BN_CLICKED(IDC_GET, &CGenericSnmpDlg::OnGet)
ON_BN_CLICKED(IDC_PUT, &CGenericSnmpDlg::OnPut)
END_MESSAGE_MAP()

CGenericSnmpDlg::CGenericSnmpDlg(const LaunchBlock& block, CWnd* pParent)
    : CDialog(IDD_GENERIC_SNMP, pParent), m_block(block), m_mib(block.DeviceMib)
{}

CComboBox* CGenericSnmpDlg::VariableCombo(int group) { return Combo(IDC_VARIABLE_FIRST + group); }

BOOL CGenericSnmpDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (const char* text : kTypeTexts)
        Combo(IDC_TYPE)->AddString(text);
    Combo(IDC_TYPE)->SetCurSel(0);
    for (int g = 0; g < kGroups; ++g) {
        Combo(IDC_GROUP)->AddString(kGroupNames[g]);
        for (int row = 0; row < RowCount(g); ++row)
            VariableCombo(g)->AddString(ComboText(g, row));
        VariableCombo(g)->SetCurSel(0);
        VariableCombo(g)->ShowWindow(SW_HIDE);
    }
    Combo(IDC_GROUP)->SetCurSel(0);
    m_group = 0;
    ShowGroup(0);
    return TRUE;
}

void CGenericSnmpDlg::ShowGroup(int group)
{
    VariableCombo(m_group)->ShowWindow(SW_HIDE);
    m_group = group;
    VariableCombo(m_group)->ShowWindow(SW_SHOW);
    ApplySelection();
}

void CGenericSnmpDlg::ApplySelection()
{
    const int row = VariableCombo(m_group)->GetCurSel();
    if (row < 0)
        return;
    if (row >= kRowsPerGroup) {
        MessageBox("Invalid Selection", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    const MibVariable& v = kTable[m_group][row];
    const int type = TypePosition(v.type);
    if (type < 0) {
        MessageBox("Not Implemented", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    Combo(IDC_TYPE)->SetCurSel(type);
    SetDlgItemText(IDC_OID, v.oid);
    const bool readOnly = (v.access & ACCESS_READ_ONLY) != 0;
    CheckDlgButton(IDC_RO, readOnly ? BST_CHECKED : BST_UNCHECKED);
    GetDlgItem(IDC_PUT)->EnableWindow(!readOnly);
    SetDlgItemText(IDC_VALUE, "");
}

bool CGenericSnmpDlg::FormOid(std::string& oid)
{
    char text[kOidChars + 1] = {};
    GetDlgItemText(IDC_OID, text, sizeof text);
    // Each index is read when the template first needs it, and shown back
    // in decimal.
    struct Index {
        char letter;
        int id;
        bool read;
        uint32_t value;
    } indexes[] = {{'X', IDC_X, false, 0}, {'Y', IDC_Y, false, 0}};
    oid.clear();
    for (const char* p = text; *p; ++p) {
        Index* index = nullptr;
        for (Index& i : indexes)
            if (*p == i.letter)
                index = &i;
        if (!index) {
            oid += *p;
            continue;
        }
        if (!index->read) {
            if (!GetItemNumber(*this, index->id, kIndexChars, index->value)) {
                MessageBox("Invalid Data Format", "Error", MB_OK | MB_ICONERROR);
                return false;
            }
            index->read = true;
        }
        oid += std::to_string(index->value);
    }
    for (const Index& i : indexes)
        if (i.read)
            SetDlgItemText(i.id, std::to_string(i.value).c_str());
    SetDlgItemText(IDC_OID, oid.c_str());
    return true;
}

int CGenericSnmpDlg::Kind()
{
    const int position = Combo(IDC_TYPE)->GetCurSel();
    return position >= 0 && position < kTypeCount ? kTypeKinds[position] : -1;
}

void CGenericSnmpDlg::Read(const std::string& oid, int kind)
{
    char text[3 * kOctetsMax + kTextMax + 2] = {};
    int result = 0;
    if (kind == KIND_OCTETS) {
        unsigned char octets[2 + kOctetsMax] = {};
        result = m_mib->SnmpGet(oid.c_str(), kind, octets, sizeof octets, kOctetsMax);
        for (int i = 0; result == 0 && i < octets[0]; ++i)
            std::snprintf(text + 3 * i, 4, " %.2X", octets[2 + i]);
    } else if (kind == KIND_INTEGER) {
        int32_t value = 0;
        result = m_mib->SnmpGet(oid.c_str(), kind, &value, sizeof value);
        if (result == 0)
            std::snprintf(text, sizeof text, "%d  : 0x%x", value, static_cast<unsigned>(value));
    } else {
        result = m_mib->SnmpGet(oid.c_str(), kind, text, kTextMax + 1, kTextMax);
    }
    if (result != 0) {
        MessageBox("SNMP Read Error", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    SetDlgItemText(IDC_VALUE, text);
}

void CGenericSnmpDlg::Write(const std::string& oid, int kind)
{
    CString value;
    GetDlgItemText(IDC_VALUE, value);
    int result = 0;
    if (kind == KIND_OCTETS) {
        unsigned char octets[2 + kOctetsMax] = {};
        const int count = ParseHexBytes(value, octets + 2, kOctetsMax);
        if (count < 0) {
            MessageBox("Invalid Data Format", "Error", MB_OK | MB_ICONERROR);
            return;
        }
        octets[0] = static_cast<unsigned char>(count);
        result = m_mib->SnmpSetValue(oid.c_str(), kind, octets, sizeof octets);
    } else if (kind == KIND_INTEGER) {
        uint32_t number = 0;
        if (!ParseNumber(value, number)) {
            MessageBox("Invalid Data Format", "Error", MB_OK | MB_ICONERROR);
            return;
        }
        result = m_mib->SnmpSetInteger(oid.c_str(), kind, static_cast<int32_t>(number));
    } else {
        std::vector<char> text(static_cast<const char*>(value),
                               static_cast<const char*>(value) + value.GetLength() + 1);
        result = m_mib->SnmpSetValue(oid.c_str(), kind, text.data(), text.size());
    }
    if (result == SNMPS_BAD_VALUE)
        MessageBox("Bad Value", "Error", MB_OK | MB_ICONERROR);
    else if (result != 0)
        MessageBox("SNMP Write Error", "Error", MB_OK | MB_ICONERROR);
}

void CGenericSnmpDlg::OnGroup()
{
    const int group = Combo(IDC_GROUP)->GetCurSel();
    if (group >= 0 && group < kGroups)
        ShowGroup(group);
}

void CGenericSnmpDlg::OnVariable(UINT id)
{
    if (static_cast<int>(id) - IDC_VARIABLE_FIRST == m_group)
        ApplySelection();
}

void CGenericSnmpDlg::OnResetOid() { ApplySelection(); }

void CGenericSnmpDlg::OnReadOnly() { GetDlgItem(IDC_PUT)->EnableWindow(IsDlgButtonChecked(IDC_RO) != BST_CHECKED); }

void CGenericSnmpDlg::OnFormOid()
{
    std::string oid;
    FormOid(oid);
}

void CGenericSnmpDlg::OnGet()
{
    std::string oid;
    const int kind = Kind();
    if (kind < 0 || !m_mib || !FormOid(oid))
        return;
    CWaitCursor wait;
    Read(oid, kind);
}

void CGenericSnmpDlg::OnPut()
{
    std::string oid;
    const int kind = Kind();
    if (kind < 0 || !m_mib || !FormOid(oid))
        return;
    CWaitCursor wait;
    Write(oid, kind);
}
