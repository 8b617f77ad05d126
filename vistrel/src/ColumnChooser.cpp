// The Column Chooser dialog of the column set: two sorted lists (available
// and watched columns), moves between them, and the user's own columns.
#include "ColumnSet.h"

#include "ColumnEditDlg.h"
#include "resource.h"

#include <cstring>
#include <strings.h>

BEGIN_MESSAGE_MAP(ColumnSet, CDialog)
ON_BN_CLICKED(IDC_MOVE_TO_WATCH, &ColumnSet::OnMoveToWatch)
ON_BN_CLICKED(IDC_MOVE_TO_AVAILABLE, &ColumnSet::OnMoveToAvailable)
ON_BN_CLICKED(IDC_EDIT_COLUMN, &ColumnSet::OnEditColumn)
ON_BN_CLICKED(IDC_ADD_COLUMN, &ColumnSet::OnAddColumn)
ON_BN_CLICKED(IDC_DELETE_COLUMN, &ColumnSet::OnDeleteColumn)
ON_BN_CLICKED(IDC_DEFAULT_COLUMNS, &ColumnSet::OnDefaultColumns)
ON_LBN_SELCHANGE(IDC_WATCH_LIST, &ColumnSet::OnSelectionChange)
ON_LBN_SELCHANGE(IDC_AVAILABLE_LIST, &ColumnSet::OnSelectionChange)
END_MESSAGE_MAP()

namespace {

std::string TextAt(CListBox* box, int index)
{
    CString text;
    box->GetText(index, text);
    return text.str();
}

int FirstSelected(CListBox* box)
{
    int index = -1;
    return box->GetSelItems(1, &index) == 1 ? index : -1;
}

} // namespace

BOOL ColumnSet::OnInitDialog()
{
    CDialog::OnInitDialog();
    watchList = static_cast<CListBox*>(GetDlgItem(IDC_WATCH_LIST));
    availableList = static_cast<CListBox*>(GetDlgItem(IDC_AVAILABLE_LIST));
    moveToWatch = GetDlgItem(IDC_MOVE_TO_WATCH);
    moveToAvailable = GetDlgItem(IDC_MOVE_TO_AVAILABLE);
    deleteButton = GetDlgItem(IDC_DELETE_COLUMN);
    defaultButton = GetDlgItem(IDC_DEFAULT_COLUMNS);
    editButton = GetDlgItem(IDC_EDIT_COLUMN);

    workingByOid.clear();
    workingByName.clear();
    for (const auto& [name, column] : shownByName)
        watchList->AddString(ColumnEntryText(name, column->oids).c_str());
    for (const auto& [name, column] : availableByName)
        availableList->AddString(ColumnEntryText(name, column->oids).c_str());
    for (auto* group : {&shownByName, &availableByName}) {
        for (const auto& [name, column] : *group) {
            if (column->id != 0)
                continue;
            workingByName[name] = column->oids.front();
            workingByOid[column->oids.front()] = name;
        }
    }
    ButtonRule();
    return TRUE;
}

void ColumnSet::ButtonRule()
{
    const int available = availableList->GetSelCount();
    moveToWatch->EnableWindow(available >= 1);
    deleteButton->EnableWindow(available >= 1);
    moveToAvailable->EnableWindow(watchList->GetSelCount() >= 1);
    editButton->EnableWindow(available == 1);
}

void ColumnSet::OnSelectionChange() { ButtonRule(); }

void ColumnSet::MoveEntry(CListBox* from, int index, CListBox* to)
{
    to->AddString(TextAt(from, index).c_str());
    from->DeleteString(static_cast<UINT>(index));
}

void ColumnSet::MoveSelected(CListBox* from, CListBox* to)
{
    for (int index = FirstSelected(from); index >= 0; index = FirstSelected(from))
        MoveEntry(from, index, to);
    ButtonRule();
}

void ColumnSet::OnMoveToWatch() { MoveSelected(availableList, watchList); }

void ColumnSet::OnMoveToAvailable() { MoveSelected(watchList, availableList); }

void ColumnSet::OnDeleteColumn()
{
    for (int index = FirstSelected(availableList); index >= 0; index = FirstSelected(availableList)) {
        const std::string name = EntryName(TextAt(availableList, index));
        auto it = workingByName.find(name);
        if (it == workingByName.end()) {
            availableList->SetSel(index, FALSE); // a built-in column stays
            continue;
        }
        availableList->DeleteString(static_cast<UINT>(index));
        workingByOid.erase(it->second);
        workingByName.erase(it);
    }
    ButtonRule();
}

void ColumnSet::OnDefaultColumns()
{
    for (int index = 0; index < watchList->GetCount();) {
        if (IsBuiltIn(EntryName(TextAt(watchList, index))))
            ++index;
        else
            MoveEntry(watchList, index, availableList);
    }
    for (const auto& [id, column] : byId) {
        const int index = availableList->FindString(-1, ColumnEntryText(column->name, column->oids).c_str());
        if (index >= 0)
            MoveEntry(availableList, index, watchList);
    }
    ButtonRule();
}

bool ColumnSet::OidTaken(const std::string& oid) const
{
    if (workingByOid.count(oid))
        return true;
    const Column* column = FindByOid(oid);
    return column && column->id != 0;
}

bool ColumnSet::NameTaken(const std::string& name, const std::string& except) const
{
    // "vistrel.ini" keys ignore case, so two names differing only in case
    // would overwrite each other there.
    auto same = [&name](const std::string& other) { return strcasecmp(other.c_str(), name.c_str()) == 0; };
    for (const auto& [taken, oid] : workingByName)
        if (taken != except && same(taken))
            return true;
    for (const auto& [id, column] : byId)
        if (same(column->name))
            return true;
    return false;
}

void ColumnSet::OnAddColumn()
{
    CColumnEditDlg editor(this);
    if (editor.DoModal() != IDOK)
        return;
    const std::string oid = editor.Oid(), name = editor.Name();
    if (OidTaken(oid)) {
        MessageBox("This oid is already in the list.");
        return;
    }
    if (NameTaken(name)) {
        MessageBox("Sorry, the column name is already used");
        return;
    }
    workingByName[name] = oid;
    workingByOid[oid] = name;
    availableList->AddString(ColumnEntryText(name, {oid}).c_str());
    ButtonRule();
}

void ColumnSet::OnEditColumn()
{
    if (availableList->GetSelCount() != 1)
        return;
    const int index = FirstSelected(availableList);
    const std::string oldName = EntryName(TextAt(availableList, index));
    std::string shownOid;
    if (auto it = workingByName.find(oldName); it != workingByName.end()) {
        shownOid = it->second;
    } else if (const Column* column = FindByName(oldName)) {
        for (size_t i = 0; i < column->oids.size(); ++i)
            shownOid += (i ? ", " : "") + column->oids[i];
    }
    const bool builtIn = IsBuiltIn(oldName);
    CColumnEditDlg editor(shownOid, oldName, builtIn ? CColumnEditDlg::view_mode : CColumnEditDlg::edit_mode, this);
    if (editor.DoModal() != IDOK || builtIn)
        return;

    const std::string oid = editor.Oid(), name = editor.Name();
    const bool oidChanged = oid != shownOid, nameChanged = name != oldName;
    if (oidChanged && OidTaken(oid)) {
        MessageBox("This oid is already in the list.");
        return;
    }
    if (nameChanged && NameTaken(name, oldName)) {
        MessageBox("Sorry, the column name is already used");
        return;
    }
    if (!oidChanged && !nameChanged)
        return;
    availableList->DeleteString(static_cast<UINT>(index));
    availableList->AddString(ColumnEntryText(name, {oid}).c_str());
    if (auto it = workingByName.find(oldName); it != workingByName.end()) {
        workingByOid.erase(it->second);
        workingByName.erase(it);
    }
    workingByName[name] = oid;
    workingByOid[oid] = name;
    ButtonRule();
}

void ColumnSet::OnOK()
{
    ApplyChooser();
    EndDialog(IDOK);
}

void ColumnSet::OnCancel()
{
    workingByOid.clear();
    workingByName.clear();
    CDialog::OnCancel();
}

void ColumnSet::ApplyChooser()
{
    // Unchanged user columns leave the working maps; the others are deleted.
    std::vector<Column*> userColumns;
    for (auto* group : {&availableByName, &shownByName})
        for (const auto& [name, column] : *group)
            if (column->id == 0)
                userColumns.push_back(column);
    for (Column* column : userColumns) {
        auto it = workingByName.find(column->name);
        if (it != workingByName.end() && it->second == column->oids.front()) {
            workingByOid.erase(it->second);
            workingByName.erase(it);
            continue;
        }
        if (shownByName.count(column->name) && shownByName.at(column->name) == column)
            RemoveColumn(column->name);
        Forget(column);
    }

    // What is left in the working maps becomes new user columns.
    for (const auto& [name, oid] : workingByName)
        Enter(AddUserColumn(name, oid), availableByName, availableByOid);
    workingByOid.clear();
    workingByName.clear();

    // The watch list decides which columns are shown.
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& [name, column] : shownByName)
        shown.emplace_back(name, ColumnEntryText(name, column->oids));
    for (const auto& [name, text] : shown) {
        const int index = watchList->FindString(-1, text.c_str());
        if (index < 0)
            RemoveColumn(name);
        else
            watchList->DeleteString(static_cast<UINT>(index));
    }
    for (int index = 0; index < watchList->GetCount(); ++index)
        AddColumn(EntryName(TextAt(watchList, index)));
}
