// The file prompt: asks for the next disk, or for the folder of a data
// volume the engine could not find.
#pragma once

#include "platform/os.h"
#include "wizard/modal_dialog.h"

namespace cabsetup {

constexpr int IDD_MEDIA_PROMPT = 135;

class CMediaPromptDlg : public CModalDialog {
public:
    CMediaPromptDlg(Os& os, HWND owner) : CModalDialog(IDD_MEDIA_PROMPT, owner), os_(os) {}

    std::string fileName, drive, label, path;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    void OnOK() override;

private:
    Os& os_;
};

// 1 with the path the user gave, 0 when the prompt was cancelled.
int AskForFile(Os& os, HWND owner, const std::string& lookedFor, const std::string& fileName, std::string& answer);

}  // namespace cabsetup
