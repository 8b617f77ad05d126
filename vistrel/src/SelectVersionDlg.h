// The Select Firmware Version dialog: the version to write to one device and,
// with the advanced options, how its boot, code and configuration parts are
// written. Everything it shows comes from the firmware server's objects.
#pragma once

#include <afxcmn.h>

#include <flashkit/flashkit_com.h>

#include <cstdint>
#include <map>
#include <string>

// Whether an image of the version type and file length fits a device of the
// unit type (cedar, dogwood, alder and alderamd, birch and birchamd).
bool SuitableImage(long unitType, long versionType, int64_t fileLength);
// The warning shown before a write that reprograms the boot code or the
// configuration records, with the note for cedar devices; empty when none.
std::string UpdateWarning(bool boot, bool config, bool cedar);
// Breaks every line longer than 69 characters after its last blank within
// the first 70 characters, or after 70 characters when it has none.
std::string WrapWarning(const std::string& text);

class CSelectVersionDlg : public CDialog {
public:
    // The inputs stay the caller's: the current and favoured versions, the
    // versions compatible with the current one and with the custom
    // configuration, the versions of the same device type and hardware, and
    // the device's unit.
    CSelectVersionDlg(Iversion* current, Iversion* favoured, Icom_vector* compatible, Icom_vector* customCompatible,
                      Icom_vector* sameType, Iunit* unit, CWnd* parent = nullptr);
    ~CSelectVersionDlg() override;

    // After OK.
    Iversion* Chosen() const { return chosen; }
    bool ApplyToAll() const { return applyToAll; }
    long BootRange() const { return bootRange; }
    long CodeRange() const { return codeRange; }
    long ConfigRange() const { return configRange; }
    bool Advanced() const { return advanced; }

    BOOL OnInitDialog() override;

protected:
    afx_msg void OnShowAll();
    afx_msg void OnUpdate();

private:
    void ShowAdvanced(long unitType);
    void Shorten();
    void ShowCompatible();
    void ShowAll();
    void AddVersions(Icom_vector* versions, long offset);
    CComPtr<Iversion> SelectedVersion(int selection);
    bool Suitable(Iversion* version, long unitType);
    long ConfigRangeFor(Iversion* version);
    bool ConfirmWarning(Iversion* version, long unitType);

    Iversion* current;
    Iversion* favoured;
    Icom_vector* compatible;
    Icom_vector* customCompatible;
    Icom_vector* sameType;
    Iunit* unit;
    bool advanced;
    CComPtr<Iversion> chosen;
    bool applyToAll = false;
    long bootRange = 0;
    long codeRange = 0;
    long configRange = 0;
    std::map<std::string, long> indexOf; // list entry text -> index into the shown collections
    bool allView = false;
    CListBox* list = nullptr;

    DECLARE_MESSAGE_MAP()
};
