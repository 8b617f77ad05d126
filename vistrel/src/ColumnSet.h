// The poll columns of the device list: named groups of SNMP object
// identifiers, each either shown or available, read from and saved to
// "vistrel.ini". The set is also the Column Chooser dialog in which the user
// moves columns between the two lists and adds, edits and deletes their own.
#pragma once

#include <afxcmn.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ColumnSet;
struct Column;

// Builds the cell text of a column with several OIDs from one OID's value.
using JoinOperation = void (ColumnSet::*)(const Column& column, const std::string& oid, const std::string& value,
                                          std::string& cell);

struct Column {
    std::string name;
    std::vector<std::string> oids;
    bool dynamic = false; // polled on every tick; otherwise read once
    int width = 100;
    int format = 2; // list column format: centred, left for the system description
    int id = 0;     // header-menu command of a built-in column, 0 for a user column
    JoinOperation join = nullptr;
};

// Parses a column definition ("D" or "S", then "," and each OID) into the
// column's dynamic flag and OIDs. False when no OID is accepted.
bool ParseColumnDefinition(const std::string& value, Column& column);

// "name -- [ oid, oid ]", and the name part of such a text.
std::string ColumnEntryText(const std::string& name, const std::vector<std::string>& oids);
std::string EntryName(const std::string& text);

// The text of a header item, whole whatever its length, and its width;
// false when there is no such item.
bool HeaderItem(CHeaderCtrl* header, int index, std::string& text, int& width);

class ColumnSet : public CDialog {
public:
    explicit ColumnSet(CWnd* parent = nullptr);
    ~ColumnSet() override;

    virtual void JoinValues(const Column& column, const std::string& oid, const std::string& value,
                            std::string& cell) = 0;
    virtual bool AddColumn(const std::string& name) = 0;
    virtual bool RemoveColumn(const std::string& name) = 0;

    Column* FindByName(const std::string& name) const;
    Column* FindByOid(const std::string& oid) const;
    bool IsBuiltIn(const std::string& name) const;
    // Shows or hides the built-in column with this header-menu id.
    bool SetVisible(int id, bool show);
    void MoveToShown(Column* column);
    void MoveToAvailable(Column* column);
    // Writes the user columns and the shown columns with their widths in the
    // header's display order.
    void Save(CHeaderCtrl* header);

    int BuiltInCount() const { return static_cast<int>(byId.size()); }
    const std::map<int, Column*>& BuiltIns() const { return byId; }
    const std::map<std::string, Column*>& ShownByName() const { return shownByName; }
    const std::map<std::string, Column*>& ShownByOid() const { return shownByOid; }
    const std::map<std::string, Column*>& AvailableByName() const { return availableByName; }
    const std::vector<std::string>& StartUpOrder() const { return startUpOrder; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

protected:
    afx_msg void OnMoveToWatch();
    afx_msg void OnMoveToAvailable();
    afx_msg void OnEditColumn();
    afx_msg void OnAddColumn();
    afx_msg void OnDeleteColumn();
    afx_msg void OnDefaultColumns();
    afx_msg void OnSelectionChange();

    std::map<std::string, std::string> workingByOid; // user columns, chooser only
    std::map<std::string, std::string> workingByName;
    CListBox* watchList = nullptr;     // 1001
    CListBox* availableList = nullptr; // 1035
    CWnd* moveToWatch = nullptr;       // 1030
    CWnd* moveToAvailable = nullptr;   // 1031
    CWnd* deleteButton = nullptr;      // 1034
    CWnd* defaultButton = nullptr;     // 1032
    CWnd* editButton = nullptr;        // 1050

    std::map<std::string, Column*> shownByName;
    std::map<std::string, Column*> shownByOid;
    std::map<std::string, Column*> availableByName;
    std::map<std::string, Column*> availableByOid;
    std::map<int, Column*> byId;
    std::vector<std::string> startUpOrder;

private:
    void LoadDefinitions();
    void LoadUserColumns();
    Column* MakeColumn(const std::string& name, const std::string& definition, int id);
    Column* AddUserColumn(const std::string& name, const std::string& oid);
    void Enter(Column* column, std::map<std::string, Column*>& names, std::map<std::string, Column*>& oids);
    void Forget(Column* column);
    void ButtonRule();
    void MoveSelected(CListBox* from, CListBox* to);
    void MoveEntry(CListBox* from, int index, CListBox* to);
    bool OidTaken(const std::string& oid) const;
    bool NameTaken(const std::string& name, const std::string& except = std::string()) const;
    void ApplyChooser();

    std::vector<std::unique_ptr<Column>> columns; // owns every column once

    DECLARE_MESSAGE_MAP()
};
