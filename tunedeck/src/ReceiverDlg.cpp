// The receiver bundle dialog.
#include "ReceiverDlg.h"

#include "SubFormat.h"
#include "resource.h"

using namespace mib;

CReceiverDlg::CReceiverDlg(const LaunchBlock& block, int x, CWnd* pParent) : CBundleDlg(IDD_RECEIVER, block, x, pParent)
{}

int CReceiverDlg::PictureOf(int y)
{
    auto* picture = static_cast<CStatic*>(GetDlgItem(IDC_PICTURE_FIRST + y));
    return picture ? m_pictures.StateOf(picture->GetBitmap()) : -1;
}

int CReceiverDlg::ReadAll()
{
    for (int y = 0; y < m_channels; ++y) {
        m_mib->MarkValid(rxSubFormat, false, m_x, y);
        m_mib->MarkValid(rxSubMap, false, m_x, y);
    }
    int result = ReadBundleNumber();
    if (result != 0)
        return result;

    // The 2/3 mS formats are known only where the device offers those rates.
    const int known = m_block.Switches & LAUNCH_SWITCH_23MS ? kSubFormatCount : kSubFormatBasic;
    for (int y = 0; y < m_channels; ++y) {
        int32_t subFormat = 0;
        result = m_mib->Get(rxSubFormat, &subFormat, m_x, y);
        if (result != 0)
            return result;
        const char* text = "Not Receiving";
        int state = PICTURE_NOT_RECEIVING;
        if (const int index = FindSubFormat(subFormat, known); index >= 0) {
            text = kSubFormats[index].text;
            state = PICTURE_MATCH;
        } else if (const int plusOne =
                       FindSubFormat(static_cast<int32_t>(static_cast<uint32_t>(subFormat) - 1u), known);
                   plusOne >= 0) {
            text = kSubFormats[plusOne].text;
            state = PICTURE_MATCH_PLUS_ONE;
        }
        SetDlgItemText(IDC_SUBFORMAT_FIRST + y, text);
        static_cast<CStatic*>(GetDlgItem(IDC_PICTURE_FIRST + y))->SetBitmap(m_pictures.Get(state));
        result = ReadSubMap(y, rxSubMap);
        if (result != 0)
            return result;
    }
    return 0;
}
