#include "wizard/folder_browser.h"

#include <shlobj.h>

#include "app/message_text.h"
#include "platform/win32/system_library.h"
#include "wizard/folder_check.h"

namespace cabsetup {

namespace {
constexpr int kFolderTree = 14145, kStatusLine = 14147, kFolderField = 14148;
constexpr char kSelfProperty[] = "cabsetup.browser";
}  // namespace

int CFolderBrowser::CheckFolder(Os& os, const std::string& folder) {
    const CodePage& cp = os.Mbcs();
    if (int invalid = IsValidFolderPath(cp, folder)) {
        ShowMessage(os, FormatEachS(cp, os.LoadString(6032), folder), std::string(), kMbOk | kMbIconExclamation);
        return invalid;
    }
    std::uint32_t attributes = 0;
    if (os.GetAttributes(folder, attributes)) return 0;
    int answer = ShowMessage(os, FormatEachS(cp, os.LoadString(6031), folder), std::string(),
                             kMbYesNo | kMbIconQuestion);
    return answer == kIdYes ? 0 : -1;
}

int CFolderBrowser::Run() {
    static const auto getMalloc = SystemFunctionAs<decltype(&SHGetMalloc)>("shell32.dll", "SHGetMalloc");
    static const auto browse = SystemFunctionAs<decltype(&SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA");
    IMalloc* allocator = nullptr;
    if (!getMalloc || !browse || FAILED(getMalloc(&allocator)) || !allocator) return -1;
    char displayName[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner_;
    info.pszDisplayName = displayName;
    info.lpszTitle = instruction_.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = Callback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    accepted_ = 0;
    if (LPITEMIDLIST list = browse(&info)) allocator->Free(list);
    allocator->Release();
    return accepted_ ? 1 : -1;
}

std::string CFolderBrowser::FieldText() const {
    char text[MAX_PATH] = {};
    GetWindowTextA(field_, text, MAX_PATH);
    return text;
}

int CALLBACK CFolderBrowser::Callback(HWND window, UINT msg, LPARAM lp, LPARAM data) {
    auto* self = reinterpret_cast<CFolderBrowser*>(data);
    if (msg == BFFM_INITIALIZED) self->OnInitialized(window);
    else if (msg == BFFM_SELCHANGED) self->OnSelectionChanged(lp);
    return 0;
}

void CFolderBrowser::OnInitialized(HWND window) {
    browser_ = window;
    SetPropA(window, kSelfProperty, this);
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CFolderBrowser::Subclass)));
    if (HWND status = GetDlgItem(window, kStatusLine)) ShowWindow(status, SW_HIDE);

    RECT tree = {0, 40, 300, 240};
    if (HWND treeWindow = GetDlgItem(window, kFolderTree)) {
        GetWindowRect(treeWindow, &tree);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&tree), 2);
    }
    // Wine's own browser already has a hidden control with this id: the
    // field is known by its window, never looked up by id.
    field_ = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                             tree.left, tree.top - 27, tree.right - tree.left, 23, window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFolderField)), GetModuleHandleA(nullptr),
                             nullptr);
    ShowWindow(field_, SW_SHOW);
    SendMessageA(field_, WM_SETFONT, SendMessageA(window, WM_GETFONT, 0, 0), TRUE);

    std::string initial = initialFolder_;
    if (initial.empty()) {
        char current[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, current);
        initial = current;
    }
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initial.c_str()));
    SetWindowTextA(window, os_.LoadString(6035).c_str());
    SetWindowTextA(field_, initial.c_str());
}

void CFolderBrowser::OnSelectionChanged(LPARAM idList) {
    // Bound by Run before the browser could call here.
    static const auto pathOf =
        SystemFunctionAs<decltype(&SHGetPathFromIDListA)>("shell32.dll", "SHGetPathFromIDListA");
    char path[MAX_PATH] = {};
    bool onDrive = pathOf && pathOf(reinterpret_cast<LPCITEMIDLIST>(idList), path) && path[0] && path[1] == ':';
    if (!onDrive) path[0] = 0;
    SendMessageA(browser_, BFFM_ENABLEOK, 0, onDrive);
    SendMessageA(browser_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    if (field_) SetWindowTextA(field_, path);
}

LRESULT CALLBACK CFolderBrowser::Subclass(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<CFolderBrowser*>(GetPropA(window, kSelfProperty));
    if (!self) return DefWindowProcA(window, msg, wp, lp);
    if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
        self->path_ = self->FieldText();
        WindowHandle previousOwner = self->os_.OwnerWindow();
        self->os_.SetOwnerWindow(reinterpret_cast<WindowHandle>(window));
        int refused = CheckFolder(self->os_, self->path_);
        self->os_.SetOwnerWindow(previousOwner);
        if (refused) {
            SetFocus(self->field_);
        } else {
            self->accepted_ = 1;
            EndDialog(window, 1);
        }
        return 0;
    }
    if (msg == WM_COMMAND && HIWORD(wp) == EN_CHANGE && reinterpret_cast<HWND>(lp) == self->field_ && self->field_) {
        self->path_ = self->FieldText();
        SendMessageA(window, BFFM_ENABLEOK, 0, !self->path_.empty());
        return 0;
    }
    if (msg == WM_NCDESTROY) RemovePropA(window, kSelfProperty);
    return CallWindowProcA(self->previousProc_, window, msg, wp, lp);
}

}  // namespace cabsetup
