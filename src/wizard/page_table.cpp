#include "wizard/page_table.h"

namespace cabsetup {

int CPageTable::AddControl(const PageControlEntry& entry) {
    for (int i = 0; i < kSlots; ++i)
        if (!entries_[i].window) {
            entries_[i] = entry;
            return i;
        }
    return -1;
}

int CPageTable::SetFocusControl(int page, HWND window) {
    if (page < 0 || page >= kPageCount) return -1;
    focusControl_[page] = window;
    return page;
}

int CPageTable::ShowPage(int page) {
    if (page < 0 || page >= kPageCount) return 0;
    currentPage_ = page;
    for (const PageControlEntry& e : entries_) {
        if (!e.window || !IsWindow(e.window)) continue;
        if (!e.visibleOn[page]) ShowWindow(e.window, SW_HIDE);
        else if (!IsWindowVisible(e.window)) ShowWindow(e.window, SW_SHOW);
        if (!e.enabledOn[page]) EnableWindow(e.window, FALSE);
        else if (!IsWindowEnabled(e.window)) EnableWindow(e.window, TRUE);
    }
    if (focusControl_[page] && IsWindow(focusControl_[page])) SetFocus(focusControl_[page]);
    return 1;
}

}  // namespace cabsetup
