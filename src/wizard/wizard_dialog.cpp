#include "wizard/wizard_dialog.h"

#include <commctrl.h>

#include <cstdlib>
#include <vector>

#include "actions/completion.h"
#include "app/folders.h"
#include "app/message_text.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/switches.h"
#include "engine/space_check.h"
#include "platform/win32/system_library.h"
#include "runlog/run_log.h"
#include "wizard/folder_browser.h"
#include "wizard/media_prompt_dialog.h"
#include "wizard/media_prompt_text.h"
#include "wizard/page_flow.h"
#include "wizard/program_wait_dialog.h"

namespace cabsetup {

namespace {

constexpr unsigned kIdsCancelQuestion = 6013, kIdsEngineError = 6025, kIdsCompleted = 6027, kIdsFinishCaption = 6011,
                   kIdsCompletionFailed = 6046, kIdsNotEnoughSpace = 6061;
constexpr int kFontBold = 2;
constexpr std::int32_t kProgressEnd = 1000;

PageControlEntry Entry(HWND window, std::initializer_list<int> visible, std::initializer_list<int> enabled) {
    PageControlEntry e;
    e.window = window;
    for (int p : visible) e.visibleOn[p] = TRUE;
    for (int p : enabled) e.enabledOn[p] = TRUE;
    return e;
}

}  // namespace

CWizardDlg::CWizardDlg(Win32Os& os, SetupState& state)
    : CModalDialog(IDD_WIZARD, nullptr), os_(os), state_(state), engine_(os, state) {
    ForgetRemovalsAtRestart();
}

CWizardDlg::~CWizardDlg() {
    if (whiteBrush_) DeleteObject(whiteBrush_);
    if (normalFont_) DeleteObject(normalFont_);
    if (boldFont_) DeleteObject(boldFont_);
    if (icon_) DestroyIcon(icon_);
    picture_.Unload();
    palette_.Release();
}

int CWizardDlg::Run() {
    if (DoModal() == -1) return kExitFatal;
    RunOutcome outcome;
    outcome.end = end_;
    outcome.noChanges = state_.Has(kSwitchNoChanges);
    outcome.restartAsked = RestartAsked(os_.Mbcs(), state_.script);
    outcome.restartStarted = restartStarted_;
    outcome.removalsAtRestart = RemovalsAtRestartPending();
    return ExitCodeOf(outcome);
}

std::string CWizardDlg::Text(unsigned id) const {
    std::string text = os_.LoadString(id);
    ExpandPlaceholders(os_.Mbcs(), state_, text, kExpandAllUsers);
    return text;
}

RECT CWizardDlg::ItemRect(int id) const {
    RECT r = {0, 0, 0, 0};
    if (HWND item = Item(id)) {
        GetWindowRect(item, &r);
        MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&r), 2);
    }
    return r;
}

bool CWizardDlg::CreateWizardFont(int kind) {
    const bool bold = kind == kFontBold;
    int height = std::atoi(os_.LoadString(bold ? 6041 : 6030).c_str());
    if (height == 0) height = 11;
    HFONT font = CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH,
                             os_.LoadString(6029).c_str());
    (bold ? boldFont_ : normalFont_) = font;
    return font != nullptr;
}

BOOL CWizardDlg::OnInitDialog() {
    os_.SetOwnerWindow(reinterpret_cast<WindowHandle>(Window()));
    HDC dc = GetDC(Window());
    // A vouched package's picture is the one proven at start-up, never read again.
    const bool loaded = state_.vouch.Active() ? picture_.LoadBytes(state_.vouch.picture, &palette_, true, dc)
                                              : picture_.Load(os_, state_.sourceDir + "\\setup.bmp", &palette_, true, dc);
    if (!loaded) picture_.Unload();
    ReleaseDC(Window(), dc);
    if (CreateWizardFont(1)) SendMessageA(Window(), WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), TRUE);
    CreateWizardFont(kFontBold);
    icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    SendMessageA(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    FillPageTable();
    InitialTexts();
    whiteBrush_ = CreateSolidBrush(RGB(255, 255, 255));
    pages_->ShowPage(kPageWelcome);
    if (state_.Has(kSwitchUnattended)) Next();
    return TRUE;
}

void CWizardDlg::FillPageTable() {
    pages_ = std::make_unique<CPageTable>();
    pages_->AddControl(Entry(Item(IDC_DESCRIPTION), {1, 2, 3}, {1, 2, 3}));
    pages_->AddControl(Entry(Item(IDC_BACK), {0, 1, 2, 3, 4}, {1, 2}));
    pages_->AddControl(Entry(Item(IDC_NEXT), {0, 1, 2, 3, 4}, {0, 2, 4}));
    pages_->AddControl(Entry(Item(IDC_CANCEL), {0, 1, 2, 3, 4}, {0, 1, 2, 3}));
    const struct {
        int id;
        std::initializer_list<int> visible, enabled;
    } kOptional[] = {
        {IDC_MAIN_TEXT, {0, 4}, {0, 4}},
        {IDC_SECOND_TEXT, {0, 4}, {0, 4}},
        {IDC_LICENSE, {1}, {1}},
        {IDC_AGREE, {1}, {1}},
        {IDC_TARGET_DIR, {2}, {2}},
        {IDC_BROWSE, {2}, {2}},
        {IDC_PROGRESS, {3}, {3}},
        {IDC_PROGRESS_LINE, {3}, {3}},
        {IDC_HEADER_PICTURE, {1, 2, 3}, {0, 1, 2, 3, 4}},
        {IDC_FOLDER_TEXT, {2}, {0, 1, 2, 3, 4}},
    };
    for (const auto& c : kOptional)
        if (HWND item = Item(c.id)) pages_->AddControl(Entry(item, c.visible, c.enabled));
    pages_->SetFocusControl(kPageWelcome, Item(IDC_NEXT));
    pages_->SetFocusControl(kPageLicense, Item(IDC_AGREE));
    pages_->SetFocusControl(kPageFolder, Item(IDC_NEXT));
    pages_->SetFocusControl(kPageFinish, Item(IDC_CANCEL));
}

void CWizardDlg::InitialTexts() {
    const ScriptHeader& h = state_.script.First().header;
    const bool full = h.setupKind == kSetupKindFull, update = h.setupKind == kSetupKindUpdate;
    SetItemText(IDC_MAIN_TEXT, full ? Text(6006) : update ? Text(6047) : std::string());
    SetItemText(IDC_SECOND_TEXT, Text(6007));
    if (full) {
        // Shown as it is: plain text in the system's code page.
        std::string license;
        if (state_.vouch.Active())
            license = state_.vouch.license;  // as proven at start-up
        else
            ReadWholeFile(os_, state_.sourceDir + "\\license.txt", 64u << 20, license);
        SetItemText(IDC_LICENSE, license);
    }
    if (full || update) {
        SetItemText(IDC_TARGET_DIR, state_.folders.targetDir);
        SetItemText(IDC_NEXT, os_.LoadString(6008));
        SetItemText(IDC_BACK, os_.LoadString(6009));
        SetItemText(IDC_CANCEL, os_.LoadString(6010));
        SetItemText(IDC_AGREE, os_.LoadString(6012));
        SetItemText(IDC_BROWSE, os_.LoadString(6034));
        if (full) SetItemText(IDC_RESTART, os_.LoadString(6052));
        std::string caption = full ? h.windowTitle : h.modelName + " v" + h.modelVersion + " Setup";
        SetWindowTextA(Window(), caption.c_str());
    }
    SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressEnd);
}

void CWizardDlg::PageTexts(int page) {
    if (unsigned id = PageDescriptionId(page)) SetItemText(IDC_DESCRIPTION, Text(id));
    if (page == kPageFolder) SetItemText(IDC_FOLDER_TEXT, Text(6044));
}

void CWizardDlg::UpdateNextFromAgreement() {
    licenseAccepted_ = IsDlgButtonChecked(Window(), IDC_AGREE) == BST_CHECKED;
    EnableWindow(Item(IDC_NEXT), licenseAccepted_);
}

bool CWizardDlg::OnCommand(int id, int) {
    switch (id) {
    case IDC_NEXT: Next(); return true;
    case IDC_BACK: Back(); return true;
    case IDC_CANCEL: CancelProcedure(); return true;
    case IDC_AGREE: UpdateNextFromAgreement(); return true;
    case IDC_BROWSE: {
        CFolderBrowser browser(os_, Window(), state_.folders.targetDir, Text(6036));
        if (browser.Run() == 1) {
            SetItemText(IDC_TARGET_DIR, browser.Path());
            state_.folders.targetDir = browser.Path();
        }
        return true;
    }
    }
    return false;
}

void CWizardDlg::Next() {
    InvalidateRect(Window(), nullptr, FALSE);
    const int page = pages_->CurrentPage();
    const ScriptHeader& h = state_.script.First().header;
    if (page == kPageFinish) {
        // "/s" reports instead of restarting; the status file is written as the wizard ends.
        if (!state_.Has(kSwitchStatusFile) && IsDlgButtonChecked(Window(), IDC_RESTART) == BST_CHECKED)
            restartStarted_ = os_.RestartComputer(os_.Version().platformId == 2);
        CancelProcedure();
        return;
    }
    const int next = NextPage(page, h.setupKind, state_.Has(kSwitchUnattended));
    if (next == kPageCopying && !startedEarly_ && !RoomForThePackage()) return;
    pages_->ShowPage(next);
    PageTexts(next);
    if (next == kPageLicense) UpdateNextFromAgreement();
    if (next == kPageCopying) StartCopying();
    if (next == kPageFinish) {
        end_ = WizardEnd::Installed;
        SetItemText(IDC_NEXT, os_.LoadString(kIdsFinishCaption));
        SetFocus(Item(IDC_NEXT));
        unsigned finishId = h.setupKind == kSetupKindFull ? 6005 : h.setupKind == kSetupKindUpdate ? 6050 : 0;
        SetItemText(IDC_MAIN_TEXT, finishId ? Text(finishId) : std::string());
        SetItemText(IDC_SECOND_TEXT, std::string());
        if (RestartAsked(os_.Mbcs(), state_.script)) {
            ShowWindow(Item(IDC_RESTART), SW_SHOW);
            CheckDlgButton(Window(), IDC_RESTART, BST_CHECKED);
        }
        SetForegroundWindow(Window());
        if (state_.Has(kSwitchUnattended)) CancelProcedure();
    }
}

bool CWizardDlg::RoomForThePackage() {
    const SpaceCheck check = CheckFreeSpace(os_, state_);
    if (check.verdict != SpaceVerdict::NotEnough) return true;
    if (state_.Has(kSwitchUnattended)) {
        Close(WizardEnd::NotEnoughSpace);
        return false;
    }
    const CodePage& cp = os_.Mbcs();
    std::string text = Text(kIdsNotEnoughSpace);
    ReplaceEvery(cp, text, "*drv*", check.drive);
    ReplaceEvery(cp, text, "*msg1*", SizeText(check.needed, true));
    ReplaceEvery(cp, text, "*msg2*", SizeText(check.free, false));
    ShowMessage(os_, text, state_.script.First().header.windowTitle, kMbOk | kMbIconExclamation);
    return false;
}

void CWizardDlg::ClearStatus() {
    status_.SetText(std::string());
    status_.SetDetail(std::string());
    status_.SetPosition(0);
    status_.progressPending = false;
}

void CWizardDlg::StartEarly() {
    if (!state_.Has(kSwitchUnattended) || CheckFreeSpace(os_, state_).verdict == SpaceVerdict::NotEnough) return;
    ClearStatus();
    startedEarly_ = engine_.StartInstallWorker(&status_, &log_) != 0;
    // Until its thread is past the system's start of a thread: the window's
    // libraries, loaded next, would hold that start up for as long as they load.
    for (int waited = 0; startedEarly_ && !engine_.WorkerEntered() && waited < 200; ++waited) os_.Sleep(1);
}

void CWizardDlg::StartCopying() {
    // The worker's messages go out from here on.
    status_.hwnd = reinterpret_cast<WindowHandle>(Window());
    if (startedEarly_) return;
    ClearStatus();
    // A start the system refuses reports itself as the worker's failure.
    engine_.StartInstallWorker(&status_, &log_);
}

void CWizardDlg::Back() {
    InvalidateRect(Window(), nullptr, FALSE);
    const int page = pages_->CurrentPage();
    pages_->ShowPage(page - 1);
    PageTexts(page - 1);
    if (page == kPageFolder) UpdateNextFromAgreement();
}

void CWizardDlg::CancelProcedure() {
    const int page = pages_->CurrentPage();
    if (page == kPageFinish) {
        Close(end_);
        return;
    }
    if (page == kPageCopying) {
        engine_.PauseInstallWorker(1);
        // The worker's question for a disk is already on its way: its prompt
        // comes first, and has a Cancel of its own.
        if (engine_.PauseMissedAQuestion()) {
            engine_.PauseInstallWorker(0);
            return;
        }
    }
    questionOpen_ = true;
    int answer = ShowMessage(os_, Text(kIdsCancelQuestion), state_.script.First().header.windowTitle,
                             kMbYesNo | kMbIconQuestion);
    questionOpen_ = false;
    if (answer == kIdYes) {
        LogLine("cancelled by the user");
        if (page == kPageCopying) {
            engine_.PauseInstallWorker(0);
            os_.Sleep(10);
            engine_.StopInstallWorker();
        }
        Close(WizardEnd::Cancelled);
        return;
    }
    if (page == kPageCopying) engine_.PauseInstallWorker(0);
    // The worker's last word may have come in while the question was open.
    if (unsigned code = deferredCode_) {
        deferredCode_ = 0;
        OnEngine(code);
    }
}

void CWizardDlg::OnEngine(unsigned code) {
    if (questionOpen_ && (code == NOTIFY_DONE || code == NOTIFY_FAILED)) {
        deferredCode_ = code;
        return;
    }
    switch (code) {
    case NOTIFY_DONE: Complete(); break;
    case NOTIFY_FAILED:
        if (!state_.Has(kSwitchStatusFile)) {
            std::string text = os_.LoadString(kIdsEngineError);
            ReplaceEvery(os_.Mbcs(), text, "*msg1*", status_.Text());
            ShowMessage(os_, text, state_.script.First().header.windowTitle, kMbOk | kMbIconStop);
        }
        Close(WizardEnd::Failed);
        break;
    case NOTIFY_PROGRESS:
        status_.progressPending = false;
        SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(status_.Position()), 0);
        SetItemText(IDC_PROGRESS_LINE, status_.Text());
        break;
    case NOTIFY_ASK_MEDIA: {
        // A stopping engine's question is answered at once: the wizard may be
        // waiting for that engine to end.
        std::string answer;
        bool given = !engine_.StopRequested() && AskForFile(os_, Window(), status_.Text(), status_.Detail(), answer);
        AnswerMediaRequest(status_, given, answer);
        break;
    }
    default: break;
    }
}

void CWizardDlg::Complete() {
    engine_.Join();  // the worker's last log lines are in before the step adds its own
    DialogWaiter waiter(os_, Window());
    if (!FinishInstallation(os_, state_, log_, waiter)) {
        if (!state_.Has(kSwitchStatusFile)) ShowMessage(os_, os_.LoadString(kIdsCompletionFailed), std::string(), kMbOk);
        Close(WizardEnd::Failed);
        return;
    }
    SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETPOS, kProgressEnd, 0);
    SetItemText(IDC_PROGRESS_LINE, os_.LoadString(kIdsCompleted));
    UpdateWindow(Window());
    os_.Sleep(300);
    Next();
}

void CWizardDlg::Close(WizardEnd end) {
    end_ = end;
    End(IDCANCEL);
}

bool CWizardDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) {
    switch (msg) {
    case WM_CLOSE: CancelProcedure(); result = TRUE; return true;
    case WM_PAINT: Paint(); result = TRUE; return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        result = ControlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        return result != 0;
    default: break;
    }
    if (msg == kWmInstallNotify) {
        OnEngine(static_cast<unsigned>(wp));
        result = TRUE;
        return true;
    }
    return false;
}

INT_PTR CWizardDlg::ControlColor(HDC dc, HWND control) {
    switch (GetDlgCtrlID(control)) {
    case IDC_DESCRIPTION: case IDC_MAIN_TEXT: case IDC_SECOND_TEXT: case IDC_LICENSE: case IDC_PROGRESS:
    case IDC_RESTART: case IDC_TARGET_DIR:
        SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(whiteBrush_);
    default: return 0;
    }
}

void CWizardDlg::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Window(), &ps);
    HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DLIGHT));
    HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    auto lines = [&](const RECT& r) {
        HGDIOBJ old = SelectObject(dc, light);
        MoveToEx(dc, r.left + 1, r.bottom + 1, nullptr);
        LineTo(dc, r.right - 1, r.bottom + 1);
        SelectObject(dc, shadow);
        MoveToEx(dc, r.left + 1, r.bottom, nullptr);
        LineTo(dc, r.right - 1, r.bottom);
        SelectObject(dc, old);
    };
    const int page = pages_ ? pages_->CurrentPage() : kPageWelcome;
    RECT fill;
    if (page >= kPageLicense && page <= kPageCopying) {
        RECT band = ItemRect(IDC_HEADER_BAND), area = ItemRect(IDC_PAGE_AREA);
        lines(band);
        lines(area);
        fill = band;
    } else {
        RECT area = ItemRect(IDC_PAGE_AREA);
        fill = area;
        if (picture_.Loaded()) {
            RECT side = ItemRect(IDC_SIDE_PICTURE);
            lines(area);
            // A picture smaller than its frame leaves white, not grey, around it.
            RECT frame = area;
            frame.right = side.right;
            FillRect(dc, &frame, whiteBrush_);
            fill.left = side.right;
            picture_.Draw(side.left, side.top, 0, 0, side.right - side.left, side.bottom - side.top, dc);
        }
    }
    FillRect(dc, &fill, whiteBrush_);
    if (unsigned id = PageHeadingId(page, state_.script.First().header.setupKind)) {
        std::string heading = Text(id);
        RECT anchor = ItemRect(page == kPageWelcome || page == kPageFinish ? IDC_MAIN_TEXT : IDC_DESCRIPTION);
        int y = anchor.top - (page == kPageWelcome || page == kPageFinish ? 50 : 20);
        if (!heading.empty()) {
            HGDIOBJ old = SelectObject(dc, boldFont_);
            SetBkColor(dc, RGB(255, 255, 255));
            TextOutA(dc, anchor.left, y, heading.c_str(), static_cast<int>(heading.size()));
            SelectObject(dc, old);
        }
    }
    DeleteObject(light);
    DeleteObject(shadow);
    EndPaint(Window(), &ps);
}

int RunWizard(Win32Os& os, SetupState& state) {
    int exitCode = kExitFatal;
    {
        CWizardDlg wizard(os, state);
        // The worker first: its thread starts before the window's libraries
        // are loaded, which holds up every thread that starts meanwhile.
        wizard.StartEarly();
        // Bound here, not imported: a run refused at start-up never loads it.
        static const auto initControls =
            SystemFunctionAs<decltype(&InitCommonControls)>("comctl32.dll", "InitCommonControls");
        if (initControls) initControls();
        exitCode = wizard.Run();
    }
    os.SetOwnerWindow(0);
    // Every way the run ends leaves its word: "Success" only for an installation that completed.
    if (state.Has(kSwitchStatusFile)) WriteStatusFile(os, IsSuccessCode(exitCode) ? "Success" : "Error");
    return exitCode;
}

}  // namespace cabsetup
