// The wizard's dialogs inside this process, driven from a second thread: the
// program wait dialog, the file prompt, and the restart at the end, which
// goes through the seam and is recorded here (the real one would end every
// process of the prefix).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/switches.h"
#include "manifest.h"
#include "package_builder.h"
#include "package_reader.h"
#include "wine_support.h"
#include "wizard/folder_browser.h"
#include "wizard/media_prompt_dialog.h"
#include "wizard/program_wait_dialog.h"
#include "wizard/wizard_dialog.h"

namespace cabsetup {
namespace {

class RecordingOs : public Win32Os {
public:
    bool RestartComputer(bool enableShutdownPrivilege) override {
        ++restarts;
        privilege = enableShutdownPrivilege;
        return true;
    }
    int restarts = 0;
    bool privilege = false;
};

HWND WaitForWindow(const char* caption) {
    HWND w = nullptr;
    wine::DrivenSetup::WaitUntil([&] { return (w = FindWindowA("#32770", caption)) && IsWindowVisible(w); }, 20000);
    return w;
}

TEST(WineProgramWait, EndsWhenTheProcessEndsWhateverItsExitCode) {
    Win32Os os;
    HWND owner = CreateWindowA("STATIC", "owner", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    const char* system = "C:\\windows\\system32\\cmd.exe";
    for (const char* commandLine : {"cmd.exe /c exit 259", "cmd.exe /c exit 0"}) {
        ProcessStart start{system, commandLine, "C:\\windows\\system32"};
        Os::HandlePtr process = os.CreateProcess(start);
        ASSERT_TRUE(process) << commandLine;
        DWORD begin = GetTickCount();
        DialogWaiter(os, owner).WaitForExit(*process);
        EXPECT_TRUE(os.ProcessEnded(*process)) << commandLine;
        EXPECT_LT(GetTickCount() - begin, 10000u) << commandLine;
    }
    DestroyWindow(owner);
}

TEST(WineMediaPrompt, FloppyPromptAnsweredWithATypedPath) {
    Win32Os os;
    std::atomic<bool> sawFloppy{false}, refusedLong{false};
    std::thread user([&] {
        HWND prompt = WaitForWindow("Insert Next Disk.");
        if (!prompt) return;
        sawFloppy = wine::DialogText(prompt, 1017) == "Insert [Data2] Disk to [A:] Drive." &&
                    wine::DialogText(prompt, 1018) == "a:\\Data2.dat" && wine::DialogText(prompt, IDOK) == "OK(&O)";
        // A path too long for the field that carries it to the engine: OK refuses it, the prompt stays.
        const std::string tooLong = "D:\\" + std::string(253, 'd');
        SendMessageA(GetDlgItem(prompt, 1018), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(tooLong.c_str()));
        SendMessageA(GetDlgItem(prompt, IDOK), BM_CLICK, 0, 0);
        refusedLong = IsWindow(prompt) && IsWindowVisible(prompt) && wine::DialogText(prompt, 1018) == tooLong;
        SendMessageA(GetDlgItem(prompt, 1018), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("D:\\disk2\\Data2.dat"));
        PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    std::string answer;
    EXPECT_EQ(AskForFile(os, nullptr, "a:\\Data2.dat", "Data2.dat", answer), 1);
    user.join();
    EXPECT_TRUE(sawFloppy);
    EXPECT_TRUE(refusedLong);
    EXPECT_EQ(answer, "D:\\disk2\\Data2.dat");
}

// Our field in the shell's folder browser: an invalid name is refused with
// 6032 and the browser stays; a folder that does not exist is asked about
// (6031) and, confirmed, chosen exactly as typed.
TEST(WineFolderBrowser, TypedFoldersAreCheckedBeforeTheBrowserCloses) {
    Win32Os os;
    wine::TestFolder folder("FolderBrowser");
    const std::string chosen = folder / "New Tool";
    std::vector<std::string> boxes;
    std::atomic<bool> sawField{false};
    std::thread user([&] {
        HWND browser = WaitForWindow("Select folder for installation");
        if (!browser) return;
        // The field is ours: a visible edit control above the tree.
        HWND field = nullptr;
        EnumChildWindows(browser, [](HWND w, LPARAM p) -> BOOL {
            char cls[16] = {};
            GetClassNameA(w, cls, sizeof cls);
            if (IsWindowVisible(w) && std::string(cls) == "Edit" && GetDlgCtrlID(w) == 14148) {
                *reinterpret_cast<HWND*>(p) = w;
                return FALSE;
            }
            return TRUE;
        }, reinterpret_cast<LPARAM>(&field));
        if (!field) return;
        sawField = true;
        for (const std::string& typed : {std::string("C:\\bad|name"), chosen}) {
            SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
            PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            HWND box = nullptr;
            wine::DrivenSetup::WaitUntil([&] { return (box = wine::FindDialogOfProcess(GetCurrentProcessId(), wine::DialogKind::Other, browser)) != nullptr; }, 10000);
            if (!box) return;
            boxes.push_back(wine::StaticText(box));
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(typed == chosen ? IDYES : IDOK, BN_CLICKED), 0);
            wine::DrivenSetup::WaitUntil([&] { return !IsWindow(box); }, 10000);
        }
    });
    CFolderBrowser browser(os, nullptr, folder.Path(), "Select installation folder for  'Tool'.");
    int result = browser.Run();
    user.join();
    EXPECT_TRUE(sawField);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Folder \"C:\\bad|name\" is not valid name.\n\nEnter another folder name.");
    EXPECT_EQ(boxes[1], "Folder \"" + chosen + "\" is not exist.\n\nCreate?");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(browser.Path(), chosen);
    EXPECT_EQ(GetFileAttributesA(chosen.c_str()), INVALID_FILE_ATTRIBUTES);  // accepted, not created
}

// A package that asks for a restart, installed through the wizard in this
// process, with a step back from the folder page on the way.
class WineWizardRestart : public ::testing::TestWithParam<bool> {
protected:
    WineWizardRestart() : folder_(std::string("WizardRestart") + (GetParam() ? "Finish" : "CloseBox")) {
        mksetup::Manifest m;
        std::string source = folder_ / "one.txt";
        wine::WriteBytes(source, {'o', 'n', 'e'});
        m.files.push_back({source, "<TARGET_DIR>\\one.txt", 0x08, 0});
        ScriptHeader& h = m.script.header;
        h.setupKind = kSetupKindFull;
        h.modelName = "Restart Test";
        h.windowTitle = caption_;
        h.uninstallKey = key_;
        h.finishOptions = "xREBOOTx";
        mksetup::BuildOptions options;
        options.outDir = folder_ / "pkg";
        mksetup::BuildResult result;
        std::string error;
        EXPECT_TRUE(mksetup::BuildPackage(m, options, result, error)) << error;
        state_.sourceDir = folder_ / "pkg";
        EXPECT_TRUE(state_.script.LoadScript(os_, true, std::string(), state_.sourceDir));
        state_.folders.targetDir = folder_ / "target";
        state_.folders.workBaseDir = folder_.Path();
    }
    ~WineWizardRestart() override {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key_).c_str());
    }

    std::string caption_ = GetParam() ? "Restart Test Finish" : "Restart Test Close";
    std::string key_ = GetParam() ? "CabsetupRestartFinish" : "CabsetupRestartClose";
    wine::TestFolder folder_;
    RecordingOs os_;
    SetupState state_;
};

TEST_P(WineWizardRestart, FinishRestartsWithThePrivilegeTheCloseBoxDoesNot) {
    const bool finish = GetParam();
    std::atomic<bool> boxShownChecked{false};
    // What Back from the folder page shows: the licence page, "I Agree"
    // still checked, Next enabled; and Next then leads to the folder again.
    std::atomic<bool> licenceShown{false}, agreeChecked{false}, nextEnabled{false}, folderAgain{false};
    std::thread user([&] {
        HWND w = WaitForWindow(caption_.c_str());
        if (!w) return;
        auto click = [&](int id) { SendMessageA(GetDlgItem(w, id), BM_CLICK, 0, 0); };
        auto visible = [&](int id) { return IsWindowVisible(GetDlgItem(w, id)) != 0; };
        click(1001);
        click(1014);
        click(1001);
        click(1002);
        licenceShown = visible(1013) && visible(1014) && !visible(1007);
        agreeChecked = SendMessageA(GetDlgItem(w, 1014), BM_GETCHECK, 0, 0) == BST_CHECKED;
        nextEnabled = IsWindowEnabled(GetDlgItem(w, 1001)) != 0;
        click(1001);
        folderAgain = visible(1007) && !visible(1013);
        click(1001);
        // The restart box is the last thing the finish page shows.
        if (!wine::DrivenSetup::WaitUntil([&] { return IsWindowVisible(GetDlgItem(w, 1024)) != 0; }, 60000)) return;
        boxShownChecked = SendMessageA(GetDlgItem(w, 1024), BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (finish) click(1001);
        else PostMessageA(w, WM_CLOSE, 0, 0);
    });
    int exitCode = RunWizard(os_, state_);
    user.join();
    // The restart the package asks for: started (1641), or still to come (3010).
    EXPECT_EQ(exitCode, finish ? 1641 : 3010);
    EXPECT_TRUE(licenceShown);
    EXPECT_TRUE(agreeChecked);
    EXPECT_TRUE(nextEnabled);
    EXPECT_TRUE(folderAgain);
    EXPECT_TRUE(boxShownChecked);
    EXPECT_EQ(os_.restarts, finish ? 1 : 0);
    // Wine reports the NT family: the privilege is always enabled there.
    if (finish) {
        EXPECT_TRUE(os_.privilege);
    }
    EXPECT_EQ(wine::ReadText(folder_ / "target\\one.txt"), "one");
}

INSTANTIATE_TEST_SUITE_P(Ends, WineWizardRestart, ::testing::Bool());

// The real system, except that it refuses threads from the nth start on.
class RefusingThreadsOs : public Win32Os {
public:
    explicit RefusingThreadsOs(int refuseFrom) : refuseFrom_(refuseFrom) {}
    ThreadPtr StartThread(std::function<void()> body) override {
        if (++starts < refuseFrom_) return Win32Os::StartThread(std::move(body));
        ++refused;
        return nullptr;
    }
    int starts = 0, refused = 0;

private:
    int refuseFrom_;
};

// An unattended run ("/a /s") over an older file whose threads are refused:
// the worker's refused start ends it as a failure, "Error" in the status
// file and the old file in place; the writer's refused start only moves the
// writing onto the worker's thread.
TEST(WineWizardRefusals, RefusedThreadsFailTheRunOrWriteOnTheWorkersThread) {
    wine::TestFolder folder("WizardRefusedThreads");
    const std::string key = "CabsetupRefusedThreads";
    mksetup::Manifest m;
    std::vector<unsigned char> payload(200000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 7 % 251);
    ASSERT_TRUE(wine::WriteBytes(folder / "big.bin", payload));
    m.files.push_back({folder / "big.bin", "<TARGET_DIR>\\big.bin", 0x04, 0});
    m.script.header.setupKind = kSetupKindFull;
    m.script.header.modelName = "Refused Threads";
    m.script.header.windowTitle = "Refused Threads";
    m.script.header.uninstallKey = key;
    mksetup::BuildOptions options;
    options.outDir = folder / "pkg";
    mksetup::BuildResult built;
    std::string error;
    ASSERT_TRUE(mksetup::BuildPackage(m, options, built, error)) << error;

    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().c_str()));  // where installerror.txt goes
    for (int refuseFrom : {1, 2}) {
        CreateDirectoryA((folder / "target").c_str(), nullptr);
        ASSERT_TRUE(wine::WriteBytes(folder / "target\\big.bin", {'o', 'l', 'd'}));
        ASSERT_TRUE(wine::WriteBytes(folder / "installerror.txt", {'s', 't', 'a', 'l', 'e'}));
        RefusingThreadsOs os(refuseFrom);
        SetupState state;
        state.sourceDir = folder / "pkg";
        ASSERT_TRUE(state.script.LoadScript(os, true, std::string(), state.sourceDir));
        state.switchFlags = kSwitchUnattended | kSwitchStatusFile;
        state.folders.targetDir = folder / "target";
        state.folders.workBaseDir = folder.Path();
        int exitCode = RunWizard(os, state);
        EXPECT_GE(os.refused, 1) << refuseFrom;
        if (refuseFrom == 1) {
            EXPECT_EQ(exitCode, 1603);
            EXPECT_EQ(wine::ReadText(folder / "installerror.txt"), "Error");
            EXPECT_EQ(wine::ReadText(folder / "target\\big.bin"), "old");
        } else {
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(wine::ReadText(folder / "installerror.txt"), "Success");
            EXPECT_EQ(wine::ReadText(folder / "target\\big.bin"), std::string(payload.begin(), payload.end()));
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key).c_str());
    }
    SetCurrentDirectoryA(previous);
}

// A vouched package's licence is the one proven at start-up: a licence.txt
// changed on the share after the check never reaches the wizard.
TEST(WineVouchedWizard, ShowsTheLicenceProvenAtStartUpNotTheFileAsItIsLater) {
    wine::TestFolder folder("VouchedLicence");
    mksetup::Manifest m;
    std::string source = folder / "one.txt";
    ASSERT_TRUE(wine::WriteBytes(source, {'o', 'n', 'e'}));
    m.files.push_back({source, "<TARGET_DIR>\\one.txt", 0x08, 0});
    m.script.header.setupKind = kSetupKindFull;
    m.script.header.modelName = "Vouched Licence";
    m.script.header.windowTitle = "Vouched Licence";
    m.script.header.uninstallKey = "CabsetupVouchedLicence";
    mksetup::BuildOptions options;
    options.outDir = folder / "pkg";
    mksetup::BuildResult built;
    std::string error;
    ASSERT_TRUE(mksetup::BuildPackage(m, options, built, error)) << error;
    const std::string later = "Changed after the check.";
    ASSERT_TRUE(wine::WriteBytes(folder / "pkg\\license.txt", std::vector<unsigned char>(later.begin(), later.end())));

    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().c_str()));  // where installerror.txt goes
    Win32Os os;
    SetupState state;
    state.sourceDir = folder / "pkg";
    ASSERT_TRUE(state.script.LoadScript(os, true, std::string(), state.sourceDir));
    state.switchFlags = kSwitchUnattended | kSwitchNoChanges | kSwitchStatusFile;
    state.folders.targetDir = folder / "target";
    state.folders.workBaseDir = folder.Path();
    state.vouch.block.filled = true;
    mksetup::PackageDigests digests;
    ASSERT_TRUE(mksetup::ComputePackageDigests(folder / "pkg", digests, error)) << error;
    state.vouch.list = digests.list;  // every cabinet as built: the run completes
    state.vouch.license = "The licence as it was proven.";
    std::string shown;
    std::thread user([&] {
        // The run takes well under a second: watched closely, until its licence text is set.
        for (DWORD start = GetTickCount(); shown.empty() && GetTickCount() - start < 20000; Sleep(1)) {
            char text[256] = {};
            if (HWND w = FindWindowA("#32770", "Vouched Licence")) GetDlgItemTextA(w, 1013, text, sizeof text);
            shown = text;
        }
    });
    EXPECT_EQ(RunWizard(os, state), 0);
    user.join();
    EXPECT_EQ(wine::ReadText(folder / "installerror.txt"), "Success");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(shown, "The licence as it was proven.");
}

}  // namespace
}  // namespace cabsetup
