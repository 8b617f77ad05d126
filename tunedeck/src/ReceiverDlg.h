// CReceiverDlg: one receiver bundle: its bundle number and per channel the
// SubMap, with the format the channel receives shown beside it.
#pragma once

#include "BundleDlg.h"
#include "StatusPictures.h"

class CReceiverDlg : public CBundleDlg {
public:
    // The states of a channel's picture.
    enum { PICTURE_MATCH = 0, PICTURE_MATCH_PLUS_ONE = 1, PICTURE_NOT_RECEIVING = 2 };

    CReceiverDlg(const LaunchBlock& block, int x, CWnd* pParent = nullptr);

    // The state the picture of channel y shows, or -1.
    int PictureOf(int y);

protected:
    const char* TitleFormat() const override { return "Receiver %d Configuration"; }
    int BundleRow() const override { return mib::rxBundle; }
    bool SubMapAccepted(uint32_t value) const override { return value == 0 || (value >= 33 && value <= 64); }
    int ChannelCount() const override { return m_mib->GetRxChannels(m_x); }
    int ReadAll() override;
    int WriteBundleSettings() override { return m_mib->WriteReceiver(m_x, false); }

    CStatusPictures m_pictures;
};
