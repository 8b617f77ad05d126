// Keeps a resizable dialog's controls in place: each registered child
// stretches with or moves along the window's growth as its anchors say.
#pragma once

#include <afxwin.h>

#include <vector>

class DialogLayout {
public:
    enum : UINT {
        stretch_vertical = 0x01,
        stretch_horizontal = 0x02,
        move_down = 0x04,
        move_right = 0x08,
        keep_vertical = 0x10,
        keep_horizontal = 0x20,
    };

    // Records the window and its client rectangle now.
    void Register(CWnd* window);
    // Records a child with its rectangle in the window's client coordinates.
    void Add(CWnd* child, UINT anchors);
    // Moves every child for the window's current client size, in one batch.
    void Relayout();

    // Where a child registered at rect goes when the client grew by dx, dy.
    static CRect Place(const CRect& rect, UINT anchors, int dx, int dy);

private:
    struct Entry {
        CWnd* child;
        CRect rect;
        UINT anchors;
    };
    CWnd* window = nullptr;
    CRect client;
    std::vector<Entry> entries;
};
