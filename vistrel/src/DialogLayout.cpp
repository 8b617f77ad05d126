#include "DialogLayout.h"

void DialogLayout::Register(CWnd* target)
{
    window = target;
    window->GetClientRect(&client);
    entries.clear();
}

void DialogLayout::Add(CWnd* child, UINT anchors)
{
    if (!window || !child)
        return;
    CRect rect;
    child->GetWindowRect(&rect);
    window->ScreenToClient(&rect);
    entries.push_back({child, rect, anchors});
}

CRect DialogLayout::Place(const CRect& rect, UINT anchors, int dx, int dy)
{
    CRect placed = rect;
    if (anchors & keep_vertical) {
        placed.top = rect.top;
        placed.bottom = rect.bottom;
    }
    if (anchors & stretch_vertical) {
        placed.top = rect.top;
        placed.bottom = rect.bottom + dy;
    }
    if (anchors & move_down) {
        placed.top = rect.top + dy;
        placed.bottom = rect.bottom + dy;
    }
    if (anchors & keep_horizontal) {
        placed.left = rect.left;
        placed.right = rect.right;
    }
    if (anchors & stretch_horizontal) {
        placed.left = rect.left;
        placed.right = rect.right + dx;
    }
    if (anchors & move_right) {
        placed.left = rect.left + dx;
        placed.right = rect.right + dx;
    }
    return placed;
}

void DialogLayout::Relayout()
{
    if (!window || !window->GetSafeHwnd())
        return;
    CRect now;
    window->GetClientRect(&now);
    const int dx = now.Width() - client.Width(), dy = now.Height() - client.Height();
    HDWP batch = BeginDeferWindowPos(static_cast<int>(entries.size()));
    for (const Entry& entry : entries) {
        const CRect placed = Place(entry.rect, entry.anchors, dx, dy);
        if (batch)
            batch = DeferWindowPos(batch, entry.child->GetSafeHwnd(), nullptr, placed.left, placed.top, placed.Width(),
                                   placed.Height(), SWP_NOZORDER);
    }
    if (batch)
        EndDeferWindowPos(batch);
}
