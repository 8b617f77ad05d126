#include "FirmwareCommand.h"

#include "FirmUpdater.h"

#include <memory>

void UpdateFirmware(CWnd& owner, CListCtrl& list, const std::string& folder)
{
    const int selected = static_cast<int>(list.GetSelectedCount());
    std::unique_ptr<firm_updater_t> updater;
    {
        CWaitCursor wait;
        updater = std::make_unique<firm_updater_t>();
        updater->init(folder);
    }
    updater->clear();
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0; row = list.GetNextItem(row, LVNI_SELECTED))
        updater->add(list.GetItemText(row, 2).str());

    CString done;
    done.Format("%d device(s) successfully updated. \r\nDevice(s) must be power-cycled\r\nto complete update process.",
                selected);
    std::string error;
    const int result = updater->update(error);
    if (result == 0)
        owner.MessageBox(done, "Update Firmware", MB_ICONINFORMATION);
    else if (result == 2)
        owner.MessageBox(error.c_str(), "Update Firmware", MB_ICONSTOP);
}
