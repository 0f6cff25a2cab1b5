#include "wizard/modal_dialog.h"

#include <vector>

namespace cabsetup {

INT_PTR CModalDialog::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner_, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

std::string CModalDialog::ItemText(int id, std::size_t limit) const {
    std::vector<char> buffer(limit + 1, 0);
    int n = GetDlgItemTextA(window_, id, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

INT_PTR CALLBACK CModalDialog::Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CModalDialog*>(lp);
        SetWindowLongPtrA(window, DWLP_USER, lp);
        self->window_ = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    INT_PTR result = 0;
    if (self->OnMessage(msg, wp, lp, result)) return result;
    if (msg == WM_COMMAND) {
        int id = LOWORD(wp);
        if (self->OnCommand(id, HIWORD(wp))) return TRUE;
        if (id == IDOK) self->OnOK();
        else if (id == IDCANCEL) self->OnCancel();
        else return FALSE;
        return TRUE;
    }
    return FALSE;
}

}  // namespace cabsetup
