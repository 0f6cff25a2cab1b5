// The run log: its file (byte-order mark, timed lines, UTF-8, the last
// line), its name and /l=, what an installation, a failure, "/p" and the
// uninstaller say in it, and that it reaches the disk without its end.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "actions/completion.h"
#include "app/startup.h"
#include "app/switches.h"
#include "engine_fixture.h"
#include "runlog/log_name.h"
#include "runlog/run_log.h"
#include "tool_script.h"
#include "uninstall/removal_log.h"
#include "uninstall/uninstaller.h"

namespace cabsetup::testing {
namespace {

constexpr char kLogPath[] = "C:\\logs\\run.log";
constexpr char kBom[] = "\xEF\xBB\xBF";

// The texts of a log file's lines, every line checked for its form: a BOM
// first, then "<ms>  <text>" lines ending in CR LF, the times never going back.
std::vector<std::string> LinesOf(const std::string& file) {
    std::vector<std::string> out;
    EXPECT_EQ(file.substr(0, 3), kBom) << "no byte-order mark";
    static const std::regex line(R"( *(\d+)  ([^\r\n]*))");
    std::uint64_t last = 0;
    std::size_t at = 3;
    while (at < file.size()) {
        std::size_t end = file.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "an unfinished line: " << file.substr(at);
            break;
        }
        std::string text = file.substr(at, end - at);
        std::smatch m;
        if (!std::regex_match(text, m, line)) {
            ADD_FAILURE() << "not a timed line: " << text;
        } else {
            std::uint64_t ms = std::stoull(m[1]);
            EXPECT_GE(ms, last) << text;
            last = ms;
            out.push_back(m[2]);
        }
        at = end + 2;
    }
    return out;
}

std::size_t CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::size_t n = 0;
    for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}
bool Has(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

class RunLogTest : public EngineTest {
protected:
    RunLogTest() {
        MakeFolder("C:\\logs");
        SetRunLog(&runLog_);
    }
    ~RunLogTest() override { SetRunLog(nullptr); }
    std::vector<std::string> EndAndRead(int exitCode) {
        runLog_.End(exitCode);
        return LinesOf(ReadFile(kLogPath));
    }
    RunLog runLog_{host_};  // the log writes beside the faults, never through them
};

TEST_F(RunLogTest, FileHasMarkTimedUtf8LinesAndEndsWithExitCodeAndStatus) {
    host_.SetCodePage(949);
    runLog_.Line("kept before the file is named");
    ASSERT_TRUE(runLog_.Open(kLogPath, LogOpen::Replace));
    runLog_.Line("\xBC\xB3\xC4\xA1 C:\\\xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5");  // Korean, code page 949
    runLog_.Line("a path with\r\na line break stays one line");
    runLog_.NoteStatusFile("Error");
    std::vector<std::string> lines = EndAndRead(1603);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "kept before the file is named");
    EXPECT_EQ(lines[1], "\xEC\x84\xA4\xEC\xB9\x98 C:\\\xED\x94\x84\xEB\xA1\x9C\xEA\xB7\xB8\xEB\x9E\xA8");  // 설치 C:\프로그램
    EXPECT_EQ(lines[2], "a path with  a line break stays one line");
    EXPECT_EQ(lines[3], "end: exit code 1603, status file \"Error\"");
}

TEST_F(RunLogTest, ReachesTheDiskWithinASecondWithoutItsEnd) {
    ASSERT_TRUE(runLog_.Open(kLogPath, LogOpen::Replace));
    // A run that is killed never reaches End: what it said must be on disk already.
    for (const char* what : {"first event", "second event"}) {
        runLog_.Line(what);
        auto start = std::chrono::steady_clock::now();
        while (ReadFile(kLogPath).find(what) == std::string::npos &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LT(took.count(), 1500) << what;  // flushed twice a second; room for a loaded machine
    }
    std::vector<std::string> lines = LinesOf(ReadFile(kLogPath));
    EXPECT_EQ(lines.size(), 2u);  // whole lines only
}

TEST_F(RunLogTest, FailureCarriesTheSystemsErrorText) {
    ASSERT_TRUE(runLog_.Open(kLogPath, LogOpen::Replace));
    runLog_.Failure("writing the file", "C:\\T\\a.exe", 5);
    runLog_.Failure("reading", "C:\\T\\b", 0, "damaged");
    std::vector<std::string> lines = EndAndRead(1603);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "FAILED writing the file: C:\\T\\a.exe: system error 5 (Access is denied.)");
    EXPECT_EQ(lines[1], "FAILED reading: C:\\T\\b: damaged");
}

TEST(LogName, FileNamesAndTheSwitch) {
    TableCodePage cp949(949), cp1252(1252);
    const LocalTime t{2026, 3, 4, 5, 6, 7};
    struct Case {
        const CodePage& cp;
        std::string key;
        bool uninstaller;
        std::string name;
    } cases[] = {
        {cp1252, "ToolKey", false, "cabsetup-ToolKey-20260304-050607.log"},
        {cp1252, "ToolKey", true, "cabsetup-ToolKey-uninstall-20260304-050607.log"},
        {cp1252, "", false, "cabsetup-unknown-20260304-050607.log"},
        {cp1252, "A/B:C*D?\"<>|\\\t", false, "cabsetup-A_B_C_D_______-20260304-050607.log"},
        // A trail byte that looks like a backslash or a bar belongs to its character.
        {cp949, "\x81\x5C\x81\x7C", false, "cabsetup-\x81\x5C\x81\x7C-20260304-050607.log"},
    };
    for (const Case& c : cases) EXPECT_EQ(LogFileName(c.cp, c.key, c.uninstaller, t), c.name) << c.key;

    const std::pair<const char*, const char*> switches[] = {
        {"/a /s", ""},
        {"/a /l=C:\\logs\\x.log /s", "C:\\logs\\x.log"},
        {"/L=\"C:\\My Logs\\x.log\" /a", "C:\\My Logs\\x.log"},
        {"/a/l=D:\\x.log", "D:\\x.log"},
        {"/l=\"C:\\unclosed", "C:\\unclosed"},
    };
    for (const auto& [line, path] : switches) EXPECT_EQ(LogSwitchPath(line), path) << line;
}

TEST_F(RunLogTest, TempNamesNeverOverwriteAndTheSwitchPathIsReplaced) {
    host_.SetTempPath("C:\\Temp");
    MakeFolder("C:\\Temp");
    const std::string name = "C:\\Temp\\" + LogFileName(host_.Mbcs(), "ToolKey", false, host_.Now());
    WriteFile(name, "an earlier run's log in the same second");
    ASSERT_TRUE(OpenRunLog(host_, runLog_, std::string(), "ToolKey", false));
    EXPECT_EQ(runLog_.Path(), name.substr(0, name.size() - 4) + "-2.log");
    runLog_.End(0);
    EXPECT_EQ(ReadFile(name), "an earlier run's log in the same second");

    WriteFile(kLogPath, "old content");
    RunLog asked(host_);
    ASSERT_TRUE(OpenRunLog(host_, asked, kLogPath, "ToolKey", false));
    asked.End(0);
    EXPECT_EQ(ReadFile(kLogPath).find("old content"), std::string::npos);
    EXPECT_EQ(LinesOf(ReadFile(kLogPath)).size(), 1u);
}

// The sample installation: start-up, the engine over an older file, and the
// completion step with a registry value, a shortcut and a waited program.
class RunLogInstall : public RunLogTest {
protected:
    void Arrange(bool noChanges) {
        mksetup::Manifest m;
        m.files.push_back(File(Payload("a", 70000, 1), "<TARGET_DIR>\\a.exe", ReplaceAlways));
        m.files.push_back(File(Payload("same", 20, 3), "<TARGET_DIR>\\same.dat"));
        m.files.push_back(File(Payload("new", 900, 4), "<TARGET_DIR>\\sub\\new.txt"));
        m.files.push_back(File(Payload("helper", 50, 5), "<TARGET_DIR>\\helper.exe"));
        Build(m, "setup");
        WriteFile("C:\\Program Files\\Tool\\same.dat", std::string(20, 'x'));
        WriteFile("C:\\Program Files\\Tool\\a.exe", "older");
        MakeFolder("C:\\WINDOWS\\temp");
        ASSERT_EQ(RunStartup(os_, state_, noChanges ? "/a /p /s" : "/a /s").outcome, StartupOutcome::Proceed);
        ASSERT_TRUE(TheRunLog()->Open(kLogPath, LogOpen::Replace));
        state_.folders.targetDir = "C:\\Program Files\\Tool";
        ScriptHalf first = ToolScript();
        RegistryRecord r;
        r.keyPath = "HKEY_CURRENT_USER\\Software\\Tool";
        r.valueName = "Path";
        r.valueType = 2;
        r.SetText("<TARGET_DIR>");
        first.registry.push_back(r);
        ShortcutRecord s;
        s.name = "Tool";
        s.targetPath = "<TARGET_DIR>\\a.exe";
        s.linkFolder = "<STARTMENUPROGRAM_DIR>\\Tool";
        first.shortcuts.push_back(s);
        ProgramRecord p;
        p.action = kProgramActionRun;
        p.programPath = "<TARGET_DIR>\\helper.exe";
        p.arguments = "/quiet";
        p.waitForExit = 1;
        first.programs.push_back(p);
        state_.script.SetFirst(first);
        state_.folders.commonProgramsDir = "C:\\All\\Programs";
        host_.SetProcessExitCode(7);
    }
    bool RunToTheEnd() {
        Install();
        if (LastCode() != NOTIFY_DONE) return false;
        PollingWaiter waiter(os_);
        return FinishInstallation(os_, state_, log_, waiter);
    }
};

TEST_F(RunLogInstall, NamesEveryStepOfASampleInstallation) {
    Arrange(false);
    ASSERT_TRUE(RunToTheEnd());
    WriteStatusFile(os_, "Success");
    std::vector<std::string> lines = EndAndRead(0);

    EXPECT_TRUE(Has(lines, "switches: /a (unattended) /s (status file)"));
    EXPECT_TRUE(Has(lines, "Uninstall key \"Tool\""));
    EXPECT_EQ(CountStarting(lines, "folder "), 15u);
    EXPECT_EQ(CountStarting(lines, "volume opened: C:\\setup\\Data.dat"), 1u);
    // Every file once, with its decision, its bytes and its unpacking path.
    const std::string t = "file C:\\Program Files\\Tool\\";
    for (const char* f : {"a.exe: replace (always), 70000 bytes", "same.dat: keep (same size), 20 bytes stay",
                          "sub\\new.txt: new, 900 bytes", "helper.exe: new, 50 bytes"})
        EXPECT_EQ(CountStarting(lines, t + f), 1u) << f;
    EXPECT_EQ(CountStarting(lines, "file "), 4u);
    const char* unpacker = SystemPathRun() ? "system cabinet interface through the workspace" : "own cabinet reader";
    EXPECT_TRUE(Has(lines, std::string("new, 900 bytes, ") + unpacker));
    EXPECT_TRUE(Has(lines, "registry HKEY_CURRENT_USER\\Software\\Tool\\Path = REG_SZ \"C:\\Program Files\\Tool\""));
    EXPECT_TRUE(Has(lines, "shortcut C:\\All\\Programs\\Tool\\Tool.lnk -> C:\\Program Files\\Tool\\a.exe"));
    EXPECT_TRUE(Has(lines, "program ended: C:\\Program Files\\Tool\\helper.exe /quiet, exit code 7"));
    // The registration's values, each as written.
    for (const char* v : {"DisplayName = REG_SZ \"Tool 1.2\"", "InstalledPath = REG_SZ \"C:\\Program Files\\Tool\""})
        EXPECT_TRUE(Has(lines, std::string("Uninstall\\ToolKey\\") + v)) << v;
    EXPECT_TRUE(Has(lines, "completion step: succeeded"));
    EXPECT_EQ(CountStarting(lines, "FAILED"), 0u);
    EXPECT_EQ(lines.back(), "end: exit code 0, status file \"Success\"");
}

TEST_F(RunLogInstall, UnderNoChangesItIsThePlanOfARealRun) {
    Arrange(true);
    ASSERT_TRUE(RunToTheEnd());
    std::vector<std::string> lines = EndAndRead(0);
    EXPECT_TRUE(Has(lines, "/p (no changes: this log is the plan of a real run)"));
    // The same decisions a real run makes, each marked as written nowhere.
    EXPECT_EQ(CountStarting(lines, "file "), 4u);
    EXPECT_TRUE(Has(lines, "a.exe: replace (always), 70000 bytes"));
    EXPECT_TRUE(Has(lines, "same.dat: keep (same size)"));
    EXPECT_TRUE(Has(lines, "new.txt: new, 900 bytes"));
    EXPECT_TRUE(Has(lines, "(plan: nothing written)"));
    EXPECT_TRUE(Has(lines, "plan: shortcut C:\\All\\Programs\\Tool\\Tool.lnk -> C:\\Program Files\\Tool\\a.exe"));
    EXPECT_TRUE(Has(lines, "plan: registry HKEY_CURRENT_USER\\Software\\Tool\\Path = REG_SZ \"C:\\Program Files\\Tool\""));
    EXPECT_TRUE(Has(lines, "plan: program C:\\Program Files\\Tool\\helper.exe /quiet, waited for"));
    EXPECT_TRUE(Has(lines, "plan: registry HKEY_LOCAL_MACHINE\\SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ToolKey\\InstalledPath"));
    // And nothing of it happened.
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\sub\\new.txt"));
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\a.exe"), "older");
    EXPECT_TRUE(host_.Links().empty());
    EXPECT_TRUE(host_.Processes().empty());
}

// A failed call of the system: the step, the path and the system's error
// number and text, the engine's or completion's failure after it.
TEST_F(RunLogInstall, AFailedStepNamesTheSystemsError) {
    struct Case {
        OsOp op;
        int nth;
        const char* line;   // the FAILED line's start
        const char* after;  // the line that follows from it
    } cases[] = {
        {OsOp::CreateHidden, 1, "FAILED writing the file: C:\\Program Files\\Tool\\a.exe", "engine failed"},
        {OsOp::RegSetValue, 1, "FAILED writing a registry value: HKEY_CURRENT_USER\\Software\\Tool\\Path",
         "completion step: failed"},
        {OsOp::SaveShellLink, 1, "FAILED saving the shortcut: C:\\All\\Programs\\Tool\\Tool.lnk", "completion step: failed"},
        {OsOp::CreateProcess, 1, "FAILED starting the program: C:\\Program Files\\Tool\\helper.exe /quiet",
         "completion step: failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(OsOpName(c.op));
        RunLog log(host_);
        SetRunLog(&log);
        std::error_code ec;
        std::filesystem::remove_all(root_ / "C" / "Program Files", ec);
        wizard_.codes.clear();
        log_ = CInstallLog();
        state_ = SetupState();
        os_.Reset();
        host_.SetComInitialised(false);  // each case's completion step is the thread's first
        Arrange(false);
        os_.FailNth(c.op, c.nth);
        EXPECT_FALSE(RunToTheEnd());
        log.End(1603);
        SetRunLog(&runLog_);
        std::vector<std::string> lines = LinesOf(ReadFile(kLogPath));
        EXPECT_EQ(CountStarting(lines, std::string(c.line) + ": system error 5 (Access is denied.)"), 1u)
            << ::testing::PrintToString(lines);
        EXPECT_TRUE(Has(lines, c.after));
        EXPECT_EQ(lines.back(), "end: exit code 1603, status file none");
    }
}

// The uninstaller names every line it would not act on, and why.
TEST_F(RunLogTest, UninstallerNamesEveryLineItSkippedAndWhy) {
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ToolKey";
    host_.SetRegistryString(RegRoot::LocalMachine, key, "InstalledPath", "C:\\Tool");
    WriteFile("C:\\Tool\\uninstall.exe", "x");
    WriteFile("C:\\Tool\\a.dll", "x");
    WriteFile("C:\\Windows\\x.dll", "system");
    WriteFile("C:\\Tool\\flist.lst",
              "//Do not edit this file\nFILE    C:\\Windows\\x.dll\nFILE    \\\\server\\share\\a.dll\n"
              "REGE    HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\x\\Start\nFILE    C:\\Tool\\a.dll\n"
              "FILE    C:\\Tool\\\n");
    ASSERT_TRUE(runLog_.Open(kLogPath, LogOpen::Replace));
    UninstallArguments a;
    a.model = "Tool";
    a.unattended = true;
    RemovalPlan plan;
    RemovePackage(os_, a, "C:\\Tool\\uninstall.exe", &plan);
    std::vector<std::string> lines = EndAndRead(0);

    ASSERT_GE(plan.skipped.size(), 3u);
    for (const SkippedLine& s : plan.skipped) {
        std::string why = SkipReasonText(s.reason);
        if (s.reason == SkipReason::UntrustedPath) why += std::string(": ") + PathVerdictText(s.verdict);
        EXPECT_EQ(CountStarting(lines, "skipped line \"" + s.line + "\": " + why), 1u) << s.line;
    }
    EXPECT_TRUE(Has(lines, "C:\\Windows\\x.dll\": a file outside the installation's folder"));
    EXPECT_TRUE(Has(lines, "\\\\server\\share\\a.dll\": a path whose meaning cannot be proven: a network path"));
    EXPECT_TRUE(Has(lines, "outside the roots the uninstaller may change"));
    EXPECT_TRUE(Has(lines, "remove file C:\\Tool\\a.dll"));
    EXPECT_TRUE(Has(lines, "no digest recorded"));
    EXPECT_EQ(ReadFile("C:\\Windows\\x.dll"), "system");
}

}  // namespace
}  // namespace cabsetup::testing
