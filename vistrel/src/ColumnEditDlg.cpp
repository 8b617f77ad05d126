#include "ColumnEditDlg.h"

#include "resource.h"

#include <cctype>
#include <cstdint>

bool IsValidOid(const std::string& text)
{
    bool seenDot = false, lastDigit = false;
    int parts = 0;
    uint64_t part = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            continue;
        if (c >= '0' && c <= '9') {
            if (!lastDigit) {
                part = 0;
                ++parts;
            }
            part = part * 10 + uint64_t(c - '0');
            // The poller cannot ask for more, or larger, sub-identifiers.
            if (parts > max_oid_parts || part > max_oid_part)
                return false;
            lastDigit = true;
        } else if (c == '.' && lastDigit) {
            seenDot = true;
            lastDigit = false;
        } else {
            return false;
        }
    }
    return seenDot && lastDigit;
}

bool IsValidColumnName(const std::string& name)
{
    if (name.empty())
        return false;
    if (std::isspace(static_cast<unsigned char>(name.front())) || std::isspace(static_cast<unsigned char>(name.back())))
        return false;
    if (name.front() == '[' || name.front() == ';')
        return false;
    if (name.find_first_of("=\r\n") != std::string::npos)
        return false;
    // The chooser's entry is name + " -- [ " + OIDs, read back up to the
    // first " -- [ ": a name holding it, or ending in " -- [", comes back cut.
    const std::string separator = " -- [ ";
    const std::string end = separator.substr(0, separator.size() - 1);
    if (name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0)
        return false;
    return name.find(separator) == std::string::npos;
}

CColumnEditDlg::CColumnEditDlg(CWnd* parent) : CDialog(IDD_COLUMN_EDIT, parent), mode(add_mode) {}

CColumnEditDlg::CColumnEditDlg(const std::string& oid, const std::string& name, int mode, CWnd* parent)
    : CDialog(IDD_COLUMN_EDIT, parent), mode(mode), oid(oid), name(name)
{}

BOOL CColumnEditDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (mode == view_mode || mode == edit_mode) {
        SetWindowText("Edit oid in the poll list");
        SetDlgItemText(IDC_COLUMN_GROUP, "Edit a column");
        SetDlgItemText(IDC_COLUMN_OID, oid.c_str());
        SetDlgItemText(IDC_COLUMN_NAME, name.c_str());
        if (mode == view_mode) {
            SendDlgItemMessage(IDC_COLUMN_OID, EM_SETREADONLY, TRUE);
            SendDlgItemMessage(IDC_COLUMN_NAME, EM_SETREADONLY, TRUE);
        }
    }
    return TRUE;
}

void CColumnEditDlg::OnOK()
{
    if (mode != view_mode) {
        CString text;
        GetDlgItemText(IDC_COLUMN_OID, text);
        oid = text.str();
        if (!IsValidOid(oid)) {
            MessageBox("Wrong Object ID format.");
            return;
        }
        GetDlgItemText(IDC_COLUMN_NAME, text);
        name = text.str();
        if (!IsValidColumnName(name)) {
            MessageBox("Wrong column name.");
            return;
        }
    }
    EndDialog(IDOK);
}
