// A modal dialog built from a template, in the manner of a framework's
// dialog class: DialogBoxParamA with one procedure that forwards every
// message to the object's virtual handler.
#pragma once

#include "platform/win32/windows_clean.h"

#include <string>

namespace cabsetup {

class CModalDialog {
public:
    CModalDialog(int templateId, HWND owner) : templateId_(templateId), owner_(owner) {}
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog; its result (IDOK, IDCANCEL or what End gave), -1 when
    // the template could not be loaded.
    INT_PTR DoModal();
    HWND Window() const { return window_; }

protected:
    // Returns the WM_INITDIALOG result (TRUE: the system sets the focus).
    virtual BOOL OnInitDialog() { return TRUE; }
    // Commands other than IDOK and IDCANCEL; true when handled.
    virtual bool OnCommand(int /*id*/, int /*notification*/) { return false; }
    virtual void OnOK() { End(IDOK); }
    virtual void OnCancel() { End(IDCANCEL); }
    // Any other message; true when handled, with the dialog procedure's result.
    virtual bool OnMessage(UINT /*msg*/, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }

    void End(INT_PTR result) { EndDialog(window_, result); }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    void SetItemText(int id, const std::string& text) { SetDlgItemTextA(window_, id, text.c_str()); }
    std::string ItemText(int id, std::size_t limit = 4096) const;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp);

    int templateId_;
    HWND owner_;
    HWND window_ = nullptr;
};

}  // namespace cabsetup
