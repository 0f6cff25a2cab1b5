// Registry entries, shortcuts, programs and the completion step against the
// host side of the seam: what each does, what it logs, how each one fails.
#include <gtest/gtest.h>

#include "actions/completion.h"
#include "actions/registry_action.h"
#include "actions/shortcut_action.h"
#include "app/startup.h"
#include "app/switches.h"
#include "formats/little_endian.h"
#include "host_sandbox.h"
#include "tool_script.h"
#include "platform/sha256.h"

namespace cabsetup::testing {
namespace {

RegistryRecord Reg(const std::string& key, const std::string& name, std::int32_t type, const std::string& text = "") {
    RegistryRecord r;
    r.keyPath = key;
    r.valueName = name;
    r.valueType = type;
    if (type == 1) r.SetNumber(0x01020304);
    else r.SetText(text);
    return r;
}

class ActionsTest : public HostSandbox {
public:
    using HostSandbox::os_;
    using HostSandbox::host_;
    using HostSandbox::WriteFile;
    ActionsTest() { Reset(); }
    void Reset() {
        state_ = SetupState();
        state_.folders.targetDir = "C:\\Tool";
        state_.folders.commonProgramsDir = "C:\\All\\Programs";
        state_.folders.programsDir = "C:\\Me\\Programs";
        state_.folders.osCode = 103;
        ScriptHalf first = ToolScript();
        state_.script.SetFirst(first);
        MakeFolder("C:\\Tool");
    }
    ScriptHalf& First() { return const_cast<ScriptHalf&>(state_.script.First()); }
    ActionContext Context() { return {os_, state_, log_}; }
    // A value as a reader sees it: a number only as REG_DWORD of four bytes,
    // a text only as REG_SZ ending in its zero; anything else says what it is.
    std::string Value(RegRoot root, const std::string& key, const std::string& name) {
        std::uint32_t type = 0;
        std::vector<unsigned char> data;
        if (!host_.RegistryValue(root, key, name, type, data)) return "<absent>";
        if (type == kRegDword && data.size() == 4) return "dword:" + std::to_string(le::U32(data.data()));
        if (type != kRegSz) return "<type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes>";
        if (data.empty() || data.back() != 0) return "<REG_SZ without its zero>";
        return std::string(data.begin(), data.end() - 1);
    }
    bool Complete() {
        PollingWaiter waiter(os_);
        return CompleteInstallation(os_, state_, log_, waiter);
    }

    SetupState state_;
    CInstallLog log_;
};

TEST_F(ActionsTest, RegistryRecordsResultsAndLogLines) {
    host_.SetRegistryString(RegRoot::CurrentUser, "Software\\Old", "x", "1");
    struct Case {
        RegistryRecord record;
        int logExistingKey;
        bool result;
        std::string log;
    } cases[] = {
        {Reg("HKEY_CURRENT_USER\\Software\\New", "Path", 2, "<TARGET_DIR>"), 0, true,
         "REGE    HKEY_CURRENT_USER\\Software\\New\\\nREGE    HKEY_CURRENT_USER\\Software\\New\\Path\n"},
        {Reg("HKEY_CURRENT_USER\\Software\\Old", "n", 1), 0, true, "REGE    HKEY_CURRENT_USER\\Software\\Old\\n\n"},
        {Reg("HKEY_CURRENT_USER\\Software\\Old", "n", 1), 1, true,
         "REGE    HKEY_CURRENT_USER\\Software\\Old\\\nREGE    HKEY_CURRENT_USER\\Software\\Old\\n\n"},
        {Reg("HKEY_DYN_DATA\\X", "", 2, "d"), 0, true, "REGE    HKEY_DYN_DATA\\X\\\nREGE    HKEY_DYN_DATA\\X\\\n"},
        {Reg("HKEY_LOCAL_MACHINE\\", "v", 2, "root"), 0, true,
         "REGE    HKEY_LOCAL_MACHINE\\\\\nREGE    HKEY_LOCAL_MACHINE\\\\v\n"},
        {Reg("HKEY_LOCAL_MACHINE", "v", 2), 0, false, ""},
        {Reg("hkey_local_machine\\Software\\X", "v", 2), 0, false, ""},
        {Reg("HKEY_NOWHERE\\X", "v", 2), 0, false, ""},
        {Reg("HKEY_CURRENT_USER\\Software\\Typeless", "v", 0), 0, false,
         "REGE    HKEY_CURRENT_USER\\Software\\Typeless\\\n"},
    };
    for (const Case& c : cases) {
        log_.SetFolder("C:\\Tool");
        EXPECT_EQ(WriteRegistryRecord(Context(), c.record, c.logExistingKey), c.result) << c.record.keyPath;
        EXPECT_EQ(log_.Text(), c.log) << c.record.keyPath;
    }
    EXPECT_EQ(Value(RegRoot::CurrentUser, "Software\\New", "Path"), "C:\\Tool");
    EXPECT_EQ(Value(RegRoot::CurrentUser, "Software\\Old", "n"), "dword:16909060");
    EXPECT_EQ(Value(RegRoot::LocalMachine, "", "v"), "root");
    EXPECT_TRUE(host_.RegistryKeyExists(RegRoot::CurrentUser, "Software\\Typeless"));
    EXPECT_EQ(Value(RegRoot::CurrentUser, "Software\\Typeless", "v"), "<absent>");

    // A key that can be neither opened nor created fails with nothing logged;
    // so does one that is there but cannot be opened (it is not claimed as
    // the package's); a refused value is logged and fails the record.
    log_.SetFolder("C:\\Tool");
    os_.FailNth(OsOp::RegCreateKey, 1);
    EXPECT_FALSE(WriteRegistryRecord(Context(), Reg("HKEY_CURRENT_USER\\Software\\Denied", "v", 2), 0));
    os_.FailNth(OsOp::RegOpenKey, 1);
    EXPECT_FALSE(WriteRegistryRecord(Context(), Reg("HKEY_CURRENT_USER\\Software\\Old", "w", 2), 1));
    EXPECT_EQ(log_.Text(), "");
    os_.FailNth(OsOp::RegSetValue, 1);
    EXPECT_FALSE(WriteRegistryRecord(Context(), Reg("HKEY_CURRENT_USER\\Software\\Old", "v", 2), 0));
    EXPECT_EQ(log_.Text(), "REGE    HKEY_CURRENT_USER\\Software\\Old\\v\n");
    EXPECT_EQ(Value(RegRoot::CurrentUser, "Software\\Old", "v"), "<absent>");
}

TEST_F(ActionsTest, ShortcutsPlacesFailuresAndLogLines) {
    ShortcutRecord s{"Readme", "<TARGET_DIR>\\readme.txt", "<STARTMENUPROGRAM_DIR>\\Tool", "<TARGET_DIR>\\tool.exe", 2};
    MakeFolder("C:\\Me\\Programs\\Tool");
    WriteFile("C:\\Me\\Programs\\Tool\\Readme.lnk", "old");
    struct Case {
        const char* what;
        std::int32_t osCode;
        OsOp fault;
        bool result;
        std::string log;
    } cases[] = {
        {"NT: all-users folder created", 103, OsOp::PostNotify, true,
         "FILE    C:\\All\\Programs\\Tool\\\nFILE    C:\\All\\Programs\\Tool\\Readme.lnk\n"},
        {"NT again: folder exists", 103, OsOp::PostNotify, true, "FILE    C:\\All\\Programs\\Tool\\Readme.lnk\n"},
        {"9x: the user's folder", 0, OsOp::PostNotify, true, "FILE    C:\\Me\\Programs\\Tool\\Readme.lnk\n"},
        {"no link object", 103, OsOp::CreateShellLink, false, ""},
        {"save fails", 0, OsOp::SaveShellLink, false, ""},
    };
    for (const Case& c : cases) {
        state_.folders.osCode = c.osCode;
        log_.SetFolder("C:\\Tool");
        os_.FailNth(c.fault, 1);
        EXPECT_EQ(WriteShortcut(Context(), s), c.result) << c.what;
        EXPECT_EQ(log_.Text(), c.log) << c.what;
        // The other place never keeps a link of the same name.
        EXPECT_NE(Exists("C:\\All\\Programs\\Tool\\Readme.lnk"), Exists("C:\\Me\\Programs\\Tool\\Readme.lnk") || !c.result)
            << c.what;
    }
    ASSERT_EQ(host_.Links().size(), 3u);
    const ShellLinkData& d = host_.Links()[0].data;
    EXPECT_EQ(d.target, "C:\\Tool\\readme.txt");
    EXPECT_EQ(d.workingDir, "C:\\Tool");
    EXPECT_EQ(d.description, "Readme");
    EXPECT_EQ(d.iconPath + "," + std::to_string(d.iconIndex), "C:\\Tool\\tool.exe,2");

    // A folder that cannot be created, and a link path the system cannot take.
    log_.SetFolder("C:\\Tool");
    os_.FailNth(OsOp::CreateDirectory, 1);
    EXPECT_FALSE(WriteShortcut(Context(), {"X", "t", "C:\\New\\Place", "", 0}));
    EXPECT_FALSE(WriteShortcut(Context(), {std::string(120, 'n'), "t", "C:\\" + std::string(140, 'f'), "", 0}));
    EXPECT_EQ(log_.Text(), "");
    EXPECT_FALSE(Exists("C:\\" + std::string(140, 'f')));
}

TEST_F(ActionsTest, ProgramsStartWaitAndFail) {
    WriteFile("C:\\Tool\\run.exe", "MZ");
    WriteFile("C:\\tool.exe", "MZ");
    state_.folders.targetDir = "C:\\Tool";
    struct Case {
        ProgramRecord record;
        bool result;
        std::size_t started;
    } cases[] = {
        {{2, "<TARGET_DIR>\\run.exe", "run.exe /x <TARGET_DIR>", 0, 1}, true, 1},
        {{1, "<TARGET_DIR>\\run.exe", "", 0, 0}, true, 0},
        {{0, "C:\\missing.exe", "", 0, 0}, true, 0},
        {{2, "C:\\Tool\\missing.exe", "", 0, 0}, false, 0},
        {{2, "C:\\Tool\\run.exe", "/quiet", 3, 0}, true, 1},
    };
    host_.SetProcessPolls(3);
    for (const Case& c : cases) {
        std::size_t before = host_.Processes().size();
        PollingWaiter waiter(os_);
        EXPECT_EQ(RunProgram(Context(), c.record, waiter), c.result) << c.record.programPath;
        EXPECT_EQ(host_.Processes().size() - before, c.started) << c.record.programPath;
    }
    ASSERT_EQ(host_.Processes().size(), 2u);
    const RecordedProcess& waited = host_.Processes()[0];
    EXPECT_EQ(waited.pollsLeft, 0);  // waited until it ended
    EXPECT_EQ(waited.start.application, "C:\\Tool\\run.exe");
    EXPECT_EQ(waited.start.commandLine, "run.exe /x C:\\Tool");
    EXPECT_EQ(waited.start.currentDir, "C:\\Tool");
    EXPECT_FALSE(waited.start.useShowCommand);
    const RecordedProcess& shown = host_.Processes()[1];
    EXPECT_EQ(shown.pollsLeft, 3);  // not waited for
    EXPECT_TRUE(shown.start.useShowCommand);
    EXPECT_EQ(shown.start.showCommand, 3);
    // No backslash: the empty current folder.
    ActionContext context = Context();
    EXPECT_EQ(ProgramStartFor(context, {2, "tool.exe", "", 0, 0}).currentDir, "");
}

// The log lines of the values the system's list of programs reads, written
// after the registration's first values.
std::string ProgramListLines(const std::string& key) {
    std::string lines;
    for (const char* name : {"DisplayVersion", "Publisher", "InstallLocation", "QuietUninstallString", "EstimatedSize",
                             "DisplayIcon", "NoModify", "NoRepair", "InstallDate"})
        lines += "REGE    " + key + "\\\nREGE    " + key + "\\" + name + "\n";
    return lines;
}

TEST_F(ActionsTest, CompletionOrderAcrossBothScriptsAndRegistration) {
    WriteFile("C:\\Tool\\run.exe", "MZ");
    WriteFile("C:\\Tool\\tool.ex_", "new");
    WriteFile("C:\\Tool\\tool.exe", "old");
    First().header.mainModuleSource = "<TARGET_DIR>\\tool.ex_";
    First().shortcuts = {{"A", "<TARGET_DIR>\\a", "C:\\Links", "", 0}};
    First().registry = {Reg("HKEY_CURRENT_USER\\Software\\Tool", "First", 2, "1")};
    First().programs = {{2, "<TARGET_DIR>\\run.exe", "first", 0, 1}};
    ScriptHalf second;
    second.shortcuts = {{"B", "<TARGET_DIR>\\b", "C:\\Links", "", 0}};
    second.registry = {Reg("HKEY_CURRENT_USER\\Software\\Tool", "Second", 1)};
    second.programs = {{2, "<TARGET_DIR>\\run.exe", "second", 0, 0}};
    state_.script.SetSecond(second);
    log_.SetFolder("C:\\Tool");

    ASSERT_TRUE(Complete());
    EXPECT_EQ(ReadFile("C:\\Tool\\tool.exe"), "new");
    EXPECT_FALSE(Exists("C:\\Tool\\tool.ex_"));
    ASSERT_EQ(host_.Links().size(), 2u);
    EXPECT_EQ(host_.Links()[0].path + host_.Links()[1].path, "C:\\Links\\A.lnkC:\\Links\\B.lnk");
    ASSERT_EQ(host_.Processes().size(), 2u);
    EXPECT_EQ(host_.Processes()[0].start.commandLine + host_.Processes()[1].start.commandLine, "firstsecond");

    const std::string key = "HKEY_LOCAL_MACHINE\\SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ToolKey";
    EXPECT_EQ(log_.Text(),
              "FILE    C:\\Tool\\tool.exe\n"
              "FILE    C:\\Links\\\nFILE    C:\\Links\\A.lnk\nFILE    C:\\Links\\B.lnk\n"
              "REGE    HKEY_CURRENT_USER\\Software\\Tool\\\nREGE    HKEY_CURRENT_USER\\Software\\Tool\\First\n"
              "REGE    HKEY_CURRENT_USER\\Software\\Tool\\Second\n"
              "REGE    " + key + "\\\nREGE    " + key + "\\DisplayName\n"
              "REGE    " + key + "\\\nREGE    " + key + "\\UninstallString\n"
              "REGE    " + key + "\\\nREGE    " + key + "\\InstalledPath\n"
              "REGE    " + key + "\\\nREGE    " + key + "\\InstalledVersion\n"
              "REGE    " + key + "\\\nREGE    " + key + "\\Installed MainModule\n" + ProgramListLines(key));
    const std::string sub = UninstallKeyPath("ToolKey");
    EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "DisplayName"), "Tool 1.2");
    EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "UninstallString"), "\"C:\\Tool\\uninstall.exe\" Tool");
    EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "Installed MainModule"), "C:\\Tool\\tool.exe");
    EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "InstalledVersion"), "1.2");
    // Start-up's previous-installation check finds the folder in the quoted value.
    EXPECT_EQ(FolderOfUninstallString(os_.Mbcs(), Value(RegRoot::LocalMachine, sub, "UninstallString")), "C:\\Tool");
}

TEST_F(ActionsTest, CompletionVariantsAndFailures) {
    int n = 0;
    struct Case {
        const char* what;
        std::function<void(ActionsTest&)> arrange;
        bool result;
        std::string installedVersion;  // "<absent>": nothing registered
        std::string displayName;
    } cases[] = {
        {"full", [](ActionsTest&) {}, true, "1.2", "Tool 1.2"},
        {"no main module source: target logged, expanded",
         [](ActionsTest& t) { t.First().header.mainModuleSource.clear(); }, true, "1.2", "Tool 1.2"},
        {"version from the linked set's volume",
         [](ActionsTest& t) {
             t.First().header.versionFromVolume = "yes";
             t.state_.script.SetVolumeVersion("1.2.7");
         },
         true, "1.2.7", "Tool 1.2"},
        {"update writes path, version and its display name",
         [](ActionsTest& t) {
             t.First().header.setupKind = kSetupKindUpdate;
             t.First().header.versionFromVolume = "yes";
         },
         true, "1.2", "Tool 1.2"},
        {"update without a display name of its own",
         [](ActionsTest& t) {
             t.First().header.setupKind = kSetupKindUpdate;
             t.First().header.displayName.clear();
         },
         true, "1.2", "<absent>"},
        {"another kind: as an update", [](ActionsTest& t) { t.First().header.setupKind = 7; }, true, "1.2", "Tool 1.2"},
        {"/p: COM only", [](ActionsTest& t) { t.state_.switchFlags = kSwitchNoChanges; }, true, "<absent>", "<absent>"},
        {"COM already initialised", [](ActionsTest& t) { t.host_.SetComInitialised(true); }, false, "<absent>", "<absent>"},
        {"main module cannot be moved",
         [](ActionsTest& t) {
             t.First().header.mainModuleSource = "<TARGET_DIR>\\tool.ex_";
             t.WriteFile("C:\\Tool\\tool.ex_", "new");
             t.os_.FailNth(OsOp::MoveFile, 1);
         },
         false, "<absent>", "<absent>"},
        {"uninstall key too long", [](ActionsTest& t) { t.First().header.uninstallKey = std::string(200, 'k'); },
         false, "<absent>", "<absent>"},
        {"uninstall string too long", [](ActionsTest& t) { t.First().header.modelName = std::string(250, 'm'); },
         false, "<absent>", "<absent>"},
        {"a failing registry record stops the step",
         [](ActionsTest& t) { t.First().registry = {Reg("HKEY_BAD\\X", "v", 2)}; }, false, "<absent>", "<absent>"},
        {"a missing program stops the step",
         [](ActionsTest& t) { t.First().programs = {{2, "C:\\none.exe", "", 0, 0}}; }, false, "<absent>", "<absent>"},
    };
    for (const Case& c : cases) {
        // A fresh state and log per case, each under its own uninstall key.
        log_ = CInstallLog();
        Reset();
        First().header.uninstallKey = "Key" + std::to_string(n++);
        host_.SetComInitialised(false);
        c.arrange(*this);
        const std::string sub = UninstallKeyPath(First().header.uninstallKey);
        EXPECT_EQ(Complete(), c.result) << c.what;
        EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "InstalledVersion"), c.installedVersion) << c.what;
        EXPECT_EQ(Value(RegRoot::LocalMachine, sub, "DisplayName"), c.displayName) << c.what;
    }
}

// The log's digest: recorded whenever the log is written, as REG_SZ of the
// saved bytes, never logged itself; "/p" and an update record nothing; a log
// or digest that could not be written fails the step, and the log on disk
// and the digest recorded still belong together.
TEST_F(ActionsTest, SavingTheLogRecordsItsDigest) {
    const std::string sub = UninstallKeyPath("ToolKey");
    auto digest = [&] { return Value(RegRoot::LocalMachine, sub, kInstallLogDigestValue); };
    auto install = [&](const std::string& file, const std::function<void()>& fault) {
        log_ = CInstallLog();
        log_.SetFolder("C:\\Tool");
        log_.AddFile("C:\\Tool\\");
        log_.AddFile("C:\\Tool\\" + file);
        host_.SetComInitialised(false);  // each run is a new program
        if (!Complete()) return false;
        fault();
        bool saved = SaveInstallLog(os_, state_, log_);
        os_.Reset();
        return saved;
    };
    ASSERT_TRUE(install("a.dll", [] {}));
    const std::string saved = ReadFile("C:\\Tool\\flist.lst");
    EXPECT_EQ(digest(), Sha256Hex(saved));
    std::uint32_t type = 0;
    std::vector<unsigned char> data;
    ASSERT_TRUE(host_.RegistryValue(RegRoot::LocalMachine, sub, kInstallLogDigestValue, type, data));
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(data.size(), 65u);  // 64 lower-case hex digits and the terminating zero
    EXPECT_EQ(saved.find(kInstallLogDigestValue), std::string::npos) << "the log cannot hold its own digest";
    EXPECT_NE(saved.find("ToolKey\\UninstallString"), std::string::npos);

    // A new full installation writes a new log, and its digest with it.
    ASSERT_TRUE(install("b.dll", [] {}));
    EXPECT_NE(ReadFile("C:\\Tool\\flist.lst"), saved);
    EXPECT_EQ(digest(), Sha256Hex(ReadFile("C:\\Tool\\flist.lst")));

    struct Case {
        const char* what;
        std::function<void(ActionsTest&)> arrange, fault;
        bool result, newLog;
        const char* digest;  // "old": as before; "new": the new log's; "<absent>"
    } cases[] = {
        {"an update leaves log and digest", [](ActionsTest& t) { t.First().header.setupKind = kSetupKindUpdate; },
         [](ActionsTest&) {}, true, false, "old"},
        {"/p writes no digest", [](ActionsTest& t) { t.state_.switchFlags = kSwitchNoChanges; }, [](ActionsTest&) {},
         true, false, "old"},
        {"the log cannot be written: the old log and its digest stay", [](ActionsTest&) {},
         [](ActionsTest& t) { t.os_.FailNth(OsOp::CreateHidden, 1); }, false, false, "old"},
        // The new log is in place: the old digest must not refuse it.
        {"the digest cannot be written: none stands for the new log", [](ActionsTest&) {},
         [](ActionsTest& t) { t.os_.FailNth(OsOp::RegSetValue, 1); }, false, true, "<absent>"},
        {"written whole", [](ActionsTest&) {}, [](ActionsTest&) {}, true, true, "new"},
    };
    for (const Case& c : cases) {
        const std::string before = ReadFile("C:\\Tool\\flist.lst"), recorded = digest();
        ASSERT_EQ(recorded, Sha256Hex(before)) << c.what;
        c.arrange(*this);
        EXPECT_EQ(install("c.dll", [&] { c.fault(*this); }), c.result) << c.what;
        const std::string after = ReadFile("C:\\Tool\\flist.lst");
        EXPECT_EQ(after != before, c.newLog) << c.what;
        const std::string expected = std::string(c.digest) == "old" ? recorded
                                     : std::string(c.digest) == "new" ? Sha256Hex(after)
                                                                       : "<absent>";
        EXPECT_EQ(digest(), expected) << c.what;
        Reset();
        log_ = CInstallLog();
        ASSERT_TRUE(install("d.dll", [] {}));  // the next case starts from a log and its digest
    }
}

}  // namespace
}  // namespace cabsetup::testing
