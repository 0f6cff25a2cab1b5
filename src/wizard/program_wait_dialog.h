// The invisible dialog that waits for a program the setup script started:
// the owner's window stays painted while the completion step waits.
#pragma once

#include "actions/program_action.h"
#include "wizard/modal_dialog.h"

namespace cabsetup {

constexpr int IDD_PROGRAM_WAIT = 139;

class CProgramWaitDlg : public CModalDialog {
public:
    CProgramWaitDlg(Os& os, Os::Handle& process, HWND owner)
        : CModalDialog(IDD_PROGRAM_WAIT, owner), os_(os), process_(process) {}

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

private:
    Os& os_;
    Os::Handle& process_;
};

// The wizard's way of waiting: the wait dialog, owned by `owner`.
class DialogWaiter final : public ProgramWaiter {
public:
    DialogWaiter(Os& os, HWND owner) : os_(os), owner_(owner) {}
    void WaitForExit(Os::Handle& process) override {
        CProgramWaitDlg dialog(os_, process, owner_);
        // Without the template there is no dialog to wait in: wait all the same.
        if (dialog.DoModal() == -1) PollingWaiter(os_).WaitForExit(process);
    }

private:
    Os& os_;
    HWND owner_;
};

}  // namespace cabsetup
