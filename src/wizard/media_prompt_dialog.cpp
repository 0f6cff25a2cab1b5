#include "wizard/media_prompt_dialog.h"

#include <commdlg.h>

#include <vector>

#include "platform/win32/system_library.h"
#include "wizard/media_prompt_text.h"

namespace cabsetup {

namespace {
constexpr int IDC_PROMPT_TEXT = 1017, IDC_PROMPT_PATH = 1018, IDC_PROMPT_BROWSE = 1019;
}

BOOL CMediaPromptDlg::OnInitDialog() {
    const CodePage& cp = os_.Mbcs();
    SetItemText(IDC_PROMPT_PATH, path);
    MediaPromptText t = MediaPromptFor(cp, path, fileName);
    drive = t.drive;
    label = t.label;
    SetItemText(IDOK, os_.LoadString(6014));
    SetItemText(IDCANCEL, os_.LoadString(6015));
    SetItemText(IDC_PROMPT_BROWSE, os_.LoadString(6016));
    SetWindowTextA(Window(), os_.LoadString(t.captionId).c_str());
    SetItemText(IDC_PROMPT_TEXT, FillMediaPrompt(cp, os_.LoadString(t.promptId), t, fileName));
    return TRUE;
}

bool CMediaPromptDlg::OnCommand(int id, int) {
    if (id != IDC_PROMPT_BROWSE) return false;
    static const auto openFile = SystemFunctionAs<decltype(&GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA");
    if (!openFile) return true;
    std::string filter = OpenFileFilter(os_.Mbcs(), os_.LoadString(6021));
    std::vector<char> file(MAX_PATH, 0);
    path.copy(file.data(), MAX_PATH - 1);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Window();
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
    if (openFile(&ofn)) {
        path = file.data();
        SetItemText(IDC_PROMPT_PATH, path);
    }
    return true;
}

void CMediaPromptDlg::OnOK() {
    std::string typed = ItemText(IDC_PROMPT_PATH);
    // A path too long to reach the engine whole is refused here, where the
    // user can still shorten it, instead of being cut into another path.
    if (!MediaAnswerFits(typed)) {
        MessageBeep(MB_ICONEXCLAMATION);
        HWND field = Item(IDC_PROMPT_PATH);
        SetFocus(field);
        SendMessageA(field, EM_SETSEL, 0, -1);
        return;
    }
    path = typed;
    End(IDOK);
}

int AskForFile(Os& os, HWND owner, const std::string& lookedFor, const std::string& fileName, std::string& answer) {
    CMediaPromptDlg dialog(os, owner);
    dialog.path = lookedFor;
    dialog.fileName = fileName;
    if (dialog.DoModal() != IDOK) return 0;
    answer = dialog.path;
    return 1;
}

}  // namespace cabsetup
