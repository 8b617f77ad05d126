// The column editor: the object identifier and name of one poll column, to
// add, edit or view (read-only) from the Column Chooser.
#pragma once

#include <afxwin.h>

#include <string>

// The most sub-identifiers an SNMP object identifier has, and the largest.
constexpr int max_oid_parts = 128;
constexpr unsigned long long max_oid_part = 4294967295ull;

// Digits and dots, at least one dot, no dot first, after a dot or last, at
// most 128 numbers each below 2^32; white space anywhere is skipped.
bool IsValidOid(const std::string& text);

// A name that survives "vistrel.ini" and the chooser's entry texts: not
// empty, no blanks at either end, no "=" or line break, not starting with
// "[" or ";", without " -- [ " and not ending in " -- [".
bool IsValidColumnName(const std::string& name);

class CColumnEditDlg : public CDialog {
public:
    enum { add_mode = 0, view_mode = 1, edit_mode = 2 };

    explicit CColumnEditDlg(CWnd* parent = nullptr);
    CColumnEditDlg(const std::string& oid, const std::string& name, int mode, CWnd* parent = nullptr);

    std::string Oid() const { return oid; }
    std::string Name() const { return name; }

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    int mode;
    std::string oid;
    std::string name;
};
