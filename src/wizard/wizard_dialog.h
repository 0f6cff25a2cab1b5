// The wizard: one dialog whose five pages are sets of its controls. It starts
// the install worker on the copying page, answers the worker's messages, runs
// the completion step and ends with the exit code of the whole run.
#pragma once

#include "platform/win32/win32_os.h"
#include "platform/win32/windows_clean.h"

#include <memory>
#include <string>

#include "actions/install_log.h"
#include "app/run_outcome.h"
#include "app/setup_state.h"
#include "engine/install_status.h"
#include "engine/install_worker.h"
#include "wizard/dib_picture.h"
#include "wizard/modal_dialog.h"
#include "wizard/page_table.h"

namespace cabsetup {

constexpr int IDD_WIZARD = 129;

enum WizardControl : int {
    IDC_CANCEL = 1000, IDC_NEXT = 1001, IDC_BACK = 1002, IDC_HEADER_BAND = 1003, IDC_PAGE_AREA = 1005,
    IDC_MAIN_TEXT = 1006, IDC_TARGET_DIR = 1007, IDC_BROWSE = 1009, IDC_PROGRESS = 1010, IDC_SECOND_TEXT = 1012,
    IDC_LICENSE = 1013, IDC_AGREE = 1014, IDC_PROGRESS_LINE = 1015, IDC_DESCRIPTION = 1016,
    IDC_HEADER_PICTURE = 1020, IDC_SIDE_PICTURE = 1021, IDC_FOLDER_TEXT = 1022, IDC_RESTART = 1024
};

class CWizardDlg : public CModalDialog {
public:
    CWizardDlg(Win32Os& os, SetupState& state);
    ~CWizardDlg() override;

    // Runs the wizard modally; the exit code of the run (ExitCodeOf: 0, 3010
    // or 1641 installed, 1602 cancelled, 1603 failed, 112 no room).
    int Run();
    // Unattended: starts the worker before the window is made, so that the
    // unpacking overlaps the making of the window (which costs a run as long
    // as unpacking a few hundred small files); only when the target's drive
    // has room, else the window is made first and reports as ever.
    void StartEarly();
    // The engine, for tests that hold it at its gate.
    InstallEngine& Engine() { return engine_; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notification) override;
    // Enter and Escape never close the wizard.
    void OnOK() override {}
    void OnCancel() override {}
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

private:
    std::string Text(unsigned id) const;  // the string, placeholders expanded
    bool CreateWizardFont(int kind);
    void FillPageTable();
    void InitialTexts();
    void PageTexts(int page);
    void UpdateNextFromAgreement();
    void Next();
    void Back();
    void CancelProcedure();
    void OnEngine(unsigned code);
    void Complete();
    void StartCopying();
    void ClearStatus();  // what the worker and the copying page share, empty
    // Whether the target's drive can hold the package. Not enough: an
    // unattended run ends (112); otherwise the user is told what is needed
    // and what is free, and the page stays, to free space or choose again.
    bool RoomForThePackage();
    void Paint();
    INT_PTR ControlColor(HDC dc, HWND control);
    void Close(WizardEnd end);
    RECT ItemRect(int id) const;

    Win32Os& os_;
    SetupState& state_;
    HBRUSH whiteBrush_ = nullptr;
    InstallStatus status_;
    HICON icon_ = nullptr;
    CPicturePalette palette_;
    CDibPicture picture_;
    HFONT normalFont_ = nullptr, boldFont_ = nullptr;
    CInstallLog log_;
    BOOL licenseAccepted_ = FALSE;
    std::unique_ptr<CPageTable> pages_;
    InstallEngine engine_;

    WizardEnd end_ = WizardEnd::Cancelled;
    bool restartStarted_ = false;
    bool questionOpen_ = false;  // the cancel question is on screen
    bool startedEarly_ = false;
    unsigned deferredCode_ = 0;  // an engine's final word that arrived during it
};

// Start-up's successor in setup.exe: the wizard, then the status file under "/s".
int RunWizard(Win32Os& os, SetupState& state);

}  // namespace cabsetup
