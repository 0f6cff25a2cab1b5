#include "wizard/program_wait_dialog.h"

namespace cabsetup {

namespace {
constexpr UINT_PTR kPollTimer = 1;
}

BOOL CProgramWaitDlg::OnInitDialog() {
    ShowWindow(Window(), SW_HIDE);
    SetWindowPos(Window(), nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    SetTimer(Window(), kPollTimer, 100, nullptr);
    return TRUE;
}

bool CProgramWaitDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) {
    if (msg == WM_WINDOWPOSCHANGING) {
        // The modal loop shows a dialog once its queue is empty: this one stays invisible.
        reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
        result = 0;
        return true;
    }
    if (msg == WM_TIMER && wp == kPollTimer) {
        // The handle, not the exit code: a program may end with code 259.
        if (os_.ProcessEnded(process_)) {
            KillTimer(Window(), kPollTimer);
            End(IDOK);
        }
        result = 0;
        return true;
    }
    return false;
}

}  // namespace cabsetup
