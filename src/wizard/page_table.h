// Which of the wizard's controls are visible and enabled on which page: a
// page is nothing but that set of controls.
#pragma once

#include "platform/win32/windows_clean.h"

#include "wizard/page_flow.h"

namespace cabsetup {

struct PageControlEntry {
    HWND window = nullptr;
    BOOL visibleOn[kPageCount] = {};
    BOOL enabledOn[kPageCount] = {};
};

class CPageTable {
public:
    static constexpr int kSlots = 30;

    // The first free slot, or -1 when all are taken.
    int AddControl(const PageControlEntry& entry);
    // The page, or -1 for a page that does not exist.
    int SetFocusControl(int page, HWND window);
    // 1, or 0 for a page that does not exist (nothing changes then).
    int ShowPage(int page);
    int CurrentPage() const { return currentPage_; }

private:
    PageControlEntry entries_[kSlots];
    HWND focusControl_[kPageCount] = {};
    int currentPage_ = -1;
};

}  // namespace cabsetup
