#include "uninstall/uninstaller.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/paths.h"
#include "app/startup.h"
#include "platform/sha256.h"
#include "runlog/log_name.h"
#include "runlog/run_log.h"
#include "uninstall/removal_log.h"

namespace cabsetup {

namespace {

constexpr std::uint64_t kLogLimit = 64ull << 20;
constexpr std::uint32_t kKeyRead = 0x20019;  // KEY_READ: the registrations are only looked at

std::string AsciiLower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) out.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) out.push_back(current);
    return out;
}

std::string Text(Os& os, unsigned id, const std::string& insert) {
    std::string text = os.LoadString(id);
    std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, insert);
    return text;
}

bool Completed(int code) { return code == kUninstallRemoved || code == kUninstallRestartNeeded; }

// Whether two paths name one folder, short names made long; false also
// when that could not be told (`unknown` is then set).
bool SameFolder(Os& os, const std::string& a, const std::string& b, bool& unknown) {
    const CodePage& cp = os.Mbcs();
    std::string x = NormalizePath(cp, a), y = NormalizePath(cp, b);
    if (x.empty() || y.empty()) return false;
    if (!LongForm(os, x, x) || !LongForm(os, y, y)) unknown = true;
    return !x.empty() && !y.empty() && IsInsideFolder(cp, x, y) && IsInsideFolder(cp, y, x);
}

enum class Read { Found, Absent, Failed };

// A text value of an open key. One too long for a path is none of ours.
Read ReadText(Os& os, Os::Handle& key, const std::string& name, std::string& out) {
    constexpr std::uint32_t kErrorMoreData = 234;
    char buffer[1024] = {};
    std::size_t size = sizeof buffer - 1;
    out.clear();
    if (!os.RegQueryValue(key, name, buffer, size))
        return ProvenAbsent(os) || os.LastError() == kErrorMoreData ? Read::Absent : Read::Failed;
    out.assign(buffer, std::min(size, sizeof buffer - 1));
    out.resize(std::strlen(out.c_str()));
    return Read::Found;
}

// The file of a program that has ended, and its folder when that is empty;
// both at the next start when the program still holds its file.
void DeleteProgramAndFolder(Os& os, const std::string& program) {
    bool gone = false;
    std::uint32_t attributes = 0;
    for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
        gone = os.DeleteFile(program) || !os.GetAttributes(program, attributes);
        if (!gone) os.Sleep(100);
    }
    const std::string folder = ParentFolder(os.Mbcs(), program);
    if (!gone) {
        os.DeleteAtRestart(program);
        os.DeleteAtRestart(folder);  // a folder goes at the next start only if empty then
        return;
    }
    os.RemoveDirectory(folder);
}

// The copy: removes, hands the exit code back, and once the first process
// has ended takes its file and folder with it.
int RunAsCopy(Os& os, const UninstallArguments& a) {
    Os::HandlePtr parent = a.parent ? os.OpenProcess(a.parent) : nullptr;
    LogLine("the copy that removes: " + os.ModulePath() + ", for " + a.from);
    int code = RemovePackage(os, a, a.from);
    // The first process writes the log's last line: this copy's part ends
    // here, before the exit code goes back.
    if (RunLog* log = TheRunLog()) {
        log->Line("the copy's removal ended: exit code " + std::to_string(code));
        log->Close();
        log->Abandon();
    }
    if (!a.result.empty()) {
        if (Os::HandlePtr pipe = os.OpenInheritedHandle(a.result)) {
            std::uint32_t value = static_cast<std::uint32_t>(code);
            os.Write(*pipe, &value, sizeof value);
        }
    }
    // A failed removal keeps the way back: the program stays for the next try.
    if (Completed(code)) {
        if (parent) os.WaitForProcess(*parent, 60000);
        DeleteProgramAndFolder(os, a.from);
    }
    // This copy cannot delete its own running file: it and its private
    // folder go when the system next starts.
    std::string self = os.ModulePath();
    if (!self.empty()) {
        os.DeleteAtRestart(self);
        os.DeleteAtRestart(ParentFolder(os.Mbcs(), self));
    }
    return code;
}

// Starts the copy and waits for its exit code; -1 when no copy could run.
int RunThroughACopy(Os& os, const UninstallArguments& a, const std::string& self) {
    const std::string folder = MakePrivateFolder(os);
    if (folder.empty()) return -1;
    const std::string copy = folder + "\\uninstall.exe";
    auto discard = [&] {
        os.DeleteFile(copy);
        os.RemoveDirectory(folder);
        return -1;
    };
    if (!os.CopyFile(self, copy)) return discard();
    // Nobody may change the copy between here and the start: the folder
    // admits only administrators, and the file is held until the system has
    // mapped it.
    Os::HandlePtr hold = os.HoldFile(copy);
    if (!hold) return discard();
    Os::HandlePtr writeEnd;
    std::string writeEndName;
    Os::HandlePtr readEnd = os.CreatePipe(writeEnd, writeEndName);
    if (!readEnd) return discard();

    ProcessStart start;
    start.application = copy;
    start.commandLine = "\"" + copy + "\" \"" + a.model + "\"" + (a.unattended ? " /a" : "") + (a.status ? " /s" : "") +
                        " /asked \"/from:" + self + "\" /result:" + writeEndName +
                        " /parent:" + std::to_string(os.ProcessId());
    RunLog* log = TheRunLog();
    if (log && !log->Path().empty()) {
        // The copy goes on in this log: everything so far is in the file first.
        start.commandLine += " \"/l=" + log->Path() + "\"";
        LogLine("starting the copy that removes: " + copy);
        log->Close();
    }
    Os::HandlePtr process = os.CreateProcess(start);
    const std::uint32_t startError = process ? 0 : os.LastError();
    writeEnd.reset();  // the copy holds the only write end now: its end ends the read
    hold.reset();
    auto resumeLog = [&] {
        if (log && !log->Path().empty()) log->Open(log->Path(), LogOpen::Append);
    };
    if (!process) {
        resumeLog();
        LogFailure("starting the copy that removes", copy, startError);
        readEnd.reset();
        return discard();
    }
    std::uint32_t value = 0;
    std::size_t got = 0;
    bool answered = os.Read(*readEnd, &value, sizeof value, got) && got == sizeof value;
    resumeLog();
    // The copy wrote the status file; the log's last line says what it holds.
    if (answered && a.status && log) log->NoteStatusFile(Completed(static_cast<int>(value)) ? "Success" : "Error");
    if (answered) return static_cast<int>(value);
    LogFailure("the copy that removes", copy, 0, "ended without handing back an exit code");
    // The copy ended without a result: nothing holds its file any more.
    os.WaitForProcess(*process, 10000);
    process.reset();
    discard();
    if (a.status) WriteStatusFile(os, "Error");
    return kUninstallFailed;
}

}  // namespace

UninstallArguments ParseUninstallArguments(std::string_view commandLine) {
    UninstallArguments a;
    for (const std::string& arg : SplitCommandLine(commandLine)) {
        const std::string lower = AsciiLower(arg);
        if (lower == "/a") a.unattended = true;
        else if (lower == "/s") a.status = true;
        else if (lower == "/asked") a.asked = true;
        else if (lower.rfind("/from:", 0) == 0) a.from = arg.substr(6);
        else if (lower.rfind("/result:", 0) == 0) a.result = lower.substr(8);
        else if (lower.rfind("/l=", 0) == 0) a.logPath = arg.substr(3);
        else if (lower.rfind("/parent:", 0) == 0) a.parent = static_cast<std::uint32_t>(std::strtoul(arg.c_str() + 8, nullptr, 10));
        // The registration writes the model name unquoted: a name with
        // spaces arrives in several parts.
        else a.model += (a.model.empty() ? "" : " ") + arg;
    }
    return a;
}

int RemovalExitCode(const RemovalOutcome& outcome) {
    if (outcome.failed) return kUninstallFailed;
    return outcome.scheduled ? kUninstallRestartNeeded : kUninstallRemoved;
}

bool FindRegistrations(Os& os, const std::string& target, std::vector<Registration>& found) {
    constexpr std::uint32_t kErrorNoMoreItems = 259;
    found.clear();
    Os::HandlePtr uninstall = os.RegOpenKey(RegRoot::LocalMachine, kUninstallRoot, kKeyRead);
    if (!uninstall) return ProvenAbsent(os);
    std::string name;
    for (std::uint32_t i = 0;; ++i) {
        if (!os.RegEnumKey(*uninstall, i, name)) {
            if (os.LastError() == kErrorNoMoreItems) return true;
            return false;  // a registration not looked at could be this one, with its digest
        }
        Os::HandlePtr key = os.RegOpenKey(RegRoot::LocalMachine, std::string(kUninstallRoot) + "\\" + name, kKeyRead);
        if (!key) {
            if (ProvenAbsent(os)) continue;  // removed since it was listed
            return false;
        }
        std::string installed, command, digest;
        bool unknown = false;
        if (ReadText(os, *key, "InstalledPath", installed) == Read::Failed ||
            ReadText(os, *key, "UninstallString", command) == Read::Failed)
            return false;
        if (!SameFolder(os, installed, target, unknown) &&
            !SameFolder(os, FolderOfUninstallString(os.Mbcs(), command), target, unknown)) {
            if (unknown) return false;
            continue;
        }
        if (ReadText(os, *key, kInstallLogDigestValue, digest) == Read::Failed) return false;
        found.push_back({name, AsciiLower(digest)});
    }
}

LogTrust CheckLog(const std::vector<Registration>& registrations, std::string_view log) {
    bool recorded = false;
    const std::string digest = Sha256Hex(log);
    for (const Registration& r : registrations) {
        if (r.digest.empty()) continue;
        if (r.digest == digest) return LogTrust::Proven;
        recorded = true;
    }
    return recorded ? LogTrust::Changed : LogTrust::Unproven;
}

int RemovePackage(Os& os, const UninstallArguments& a, const std::string& uninstaller, RemovalPlan* planOut) {
    const std::string target = ParentFolder(os.Mbcs(), uninstaller);
    const std::string logPath = target + "\\flist.lst";
    const std::string caption = os.LoadString(kIdsUninstallCaption);
    LogLine("package folder: " + target + ", installed-file log " + logPath);
    auto refuse = [&](unsigned id, const std::string& insert) {
        LogLine("removal refused or failed: " + Text(os, id, insert));
        if (!a.status) os.MessageBox(Text(os, id, insert), caption, kMbOk | kMbIconStop);
        else WriteStatusFile(os, "Error");
        return kUninstallFailed;
    };
    std::string log;
    std::vector<Registration> registrations;
    // Without its registrations read whole, the log cannot be proven: it is
    // as unreadable as a log that cannot be opened.
    if (!ReadWholeFile(os, logPath, kLogLimit, log)) {
        LogFailure("reading the installed-file log", logPath, os.LastError());
        return refuse(kIdsLogUnreadable, logPath);
    }
    if (!FindRegistrations(os, target, registrations)) {
        LogFailure("reading the package's registrations", kUninstallRoot, os.LastError());
        return refuse(kIdsLogUnreadable, logPath);
    }
    const LogTrust trust = CheckLog(registrations, log);
    if (RunLogOn()) {
        for (const Registration& r : registrations)
            LogLine("registration: " + std::string(kUninstallRoot) + "\\" + r.key +
                    (r.digest.empty() ? ", no log digest recorded" : ", log digest " + r.digest));
        LogLine(trust == LogTrust::Proven     ? "installed-file log: its digest matches the registration's"
                : trust == LogTrust::Unproven ? "installed-file log: no digest recorded; every line is proven on its own"
                                              : "installed-file log: changed since the installation; refused whole");
    }
    if (trust == LogTrust::Changed) return refuse(kIdsLogChanged, a.model);

    PlanInputs inputs;
    inputs.target = target;
    inputs.keep = {uninstaller, logPath};
    for (const Registration& r : registrations) inputs.registrations.push_back(r.key);
    RemovalPlan plan = PlanRemoval(os, log, inputs);
    LogRemovalPlan(plan);
    RemovalOutcome outcome = CarryOut(os, plan, target);
    outcome.failed += plan.unchecked;
    LogRemovalOutcome(outcome);
    int code = RemovalExitCode(outcome);
    // The way back goes last: the registration with the log's digest, then
    // the log; a registration not removed whole keeps the log for the next run.
    if (Completed(code) && !RemoveRegistration(os, plan, outcome)) {
        LogFailure("removing the registration", kUninstallRoot, os.LastError());
        code = kUninstallFailed;
    }
    if (Completed(code) && !os.DeleteFile(logPath) && !ProvenAbsent(os)) {
        const std::uint32_t error = os.LastError();
        if (!os.DeleteAtRestart(logPath)) {
            LogFailure("deleting the installed-file log", logPath, error);
            code = kUninstallFailed;
        } else {
            LogLine("installed-file log in use: deleted at the next start");
            code = kUninstallRestartNeeded;
        }
    }
    if (planOut) *planOut = std::move(plan);

    if (code == kUninstallFailed) return refuse(kIdsNotAllRemoved, a.model);
    if (!a.unattended)
        os.MessageBox(Text(os, code == kUninstallRemoved ? kIdsRemoved : kIdsRemovedAfterRestart, a.model), caption,
                      kMbOk | kMbIconInformation);
    // The restart finishes the removal: done, as far as anyone waiting can tell.
    if (a.status) WriteStatusFile(os, "Success");
    return code;
}

std::string MakePrivateFolder(Os& os) {
    const std::string windows = os.WindowsDirectory();
    if (windows.empty()) return {};
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char bytes[8] = {};
        if (!os.Random(bytes, sizeof bytes)) return {};
        std::string name = "\\Temp\\cabsetup-";
        for (unsigned char b : bytes) {
            name += "0123456789abcdef"[b >> 4];
            name += "0123456789abcdef"[b & 0xF];
        }
        // A name taken already, by anyone, is never used: another is drawn.
        if (os.CreatePrivateDirectory(windows + name)) return windows + name;
    }
    return {};
}

void OpenUninstallLog(Os& os, const UninstallArguments& a, const std::string& self) {
    RunLog* log = TheRunLog();
    if (!log) return;
    if (!a.from.empty()) {
        if (a.logPath.empty() || !log->Open(a.logPath, LogOpen::Append)) log->Abandon();
        return;
    }
    std::string key = a.model;
    std::vector<Registration> found;
    if (!self.empty() && FindRegistrations(os, ParentFolder(os.Mbcs(), self), found) && !found.empty())
        key = found.front().key;
    OpenRunLog(os, *log, a.logPath, key, true);
}

int RunUninstaller(Os& os, std::string_view commandLine) {
    const UninstallArguments a = ParseUninstallArguments(commandLine);
    if (!a.from.empty()) {
        OpenUninstallLog(os, a, a.from);
        return RunAsCopy(os, a);
    }
    const std::string self = os.ModulePath();
    OpenUninstallLog(os, a, self);
    if (RunLogOn())
        LogLine("model \"" + a.model + "\"" + (a.unattended ? ", /a (unattended)" : "") + (a.status ? ", /s (status file)" : "") +
                (a.logPath.empty() ? "" : ", /l=" + a.logPath));

    if (!a.unattended && !a.asked &&
        os.MessageBox(Text(os, kIdsUninstallQuestion, a.model), os.LoadString(kIdsUninstallCaption),
                      kMbYesNo | kMbIconQuestion) != kIdYes) {
        LogLine("question answered No: nothing removed");
        if (a.status) WriteStatusFile(os, "Error");
        return kUninstallAnsweredNo;
    }
    if (self.empty()) {
        LogFailure("finding the uninstaller's own path", std::string_view(), os.LastError());
        if (a.status) WriteStatusFile(os, "Error");
        return kUninstallFailed;
    }
    int code = RunThroughACopy(os, a, self);
    if (code >= 0) return code;
    // No copy could run: remove from here, and this file and its folder at
    // the next start, which the exit code then asks for.
    LogLine("no copy could run: removing from here, this program goes at the next start");
    code = RemovePackage(os, a, self);
    if (!Completed(code)) return code;
    os.DeleteAtRestart(self);
    os.DeleteAtRestart(ParentFolder(os.Mbcs(), self));
    return kUninstallRestartNeeded;
}

}  // namespace cabsetup
