// The three small pictures of a receiver channel's state: receiving the
// format shown, receiving it with the code's low bit set, not receiving.
#pragma once

#include <afxwin.h>

class CStatusPictures {
public:
    static constexpr int kCount = 3;

    CStatusPictures();
    ~CStatusPictures();
    CStatusPictures(const CStatusPictures&) = delete;
    CStatusPictures& operator=(const CStatusPictures&) = delete;

    HBITMAP Get(int state) const { return m_bitmaps[state]; }
    // The state a picture stands for, or -1.
    int StateOf(HBITMAP bitmap) const;

private:
    HBITMAP m_bitmaps[kCount] = {};
};
