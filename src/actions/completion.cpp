#include "actions/completion.h"

#include "actions/registry_action.h"
#include "actions/replace_file.h"
#include "actions/shortcut_action.h"
#include "app/folders.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/switches.h"
#include "platform/date_text.h"
#include "platform/sha256.h"
#include "runlog/run_log.h"

namespace cabsetup {

namespace {

// Written as the registration has always spelt it; the registry ignores case.
constexpr char kUninstallRoot[] = "HKEY_LOCAL_MACHINE\\SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string InstalledVersion(const SetupState& state) {
    const ScriptHeader& h = state.script.First().header;
    if (h.setupKind == kSetupKindFull && !h.versionFromVolume.empty()) return state.script.VolumeVersion();
    return h.modelVersion;
}

// The staged main module takes its target's place by renames only: the old
// module is set aside, never deleted before the new one stands in its place,
// and comes back when the move fails. Nothing staged leaves the module as
// it is. False when the module could not be placed.
bool ReplaceWithStaged(Os& os, const std::string& source, const std::string& target) {
    FindData staged;
    if (!os.FileInfo(source, staged)) return ProvenAbsent(os);
    if (staged.attributes & kAttrDirectory) return true;
    return ReplaceByRenames(os, target, [&] {
        os.Sleep(10);
        return os.MoveFile(source, target);
    });
}

bool PlaceMainModule(Os& os, const SetupState& state, CInstallLog& log) {
    const CodePage& cp = os.Mbcs();
    const ScriptHeader& h = state.script.First().header;
    std::string target = h.mainModuleTarget;
    ExpandPlaceholders(cp, state, target, kExpandAllUsers);
    if (!state.Has(kSwitchNoChanges) && !h.mainModuleSource.empty()) {
        std::string source = h.mainModuleSource;
        ExpandPlaceholders(cp, state, source, kExpandAllUsers);
        if (!ReplaceWithStaged(os, source, target)) {
            LogFailure("moving the main module into place", source + " -> " + target, os.LastError());
            return false;
        }
        LogLine("main module: " + source + " -> " + target);
    }
    // An empty target names no file; a line for it would be of no use to the uninstaller.
    if (!target.empty()) log.AddFile(target);
    return true;
}

template <typename Record, typename Action>
bool ForEachRecord(const SetupState& state, std::vector<Record> ScriptHalf::*records, Action action) {
    for (const ScriptHalf* half : {&state.script.First(), &state.script.Second()})
        for (const Record& r : half->*records)
            if (!action(r)) return false;
    return true;
}

// Under "/p": what a real run's completion step would do, line by line.
void LogPlan(const SetupState& state, const CodePage& cp, const std::vector<UninstallValue>& uninstall) {
    if (!RunLogOn()) return;
    auto expanded = [&](std::string text, int mode = kExpandAllUsers) {
        ExpandPlaceholders(cp, state, text, mode);
        return text;
    };
    const int linkMode = state.folders.osCode >= 101 ? kExpandAllUsers : kExpandCurrentUser;
    ForEachRecord(state, &ScriptHalf::shortcuts, [&](const ShortcutRecord& r) {
        LogLine("plan: shortcut " + expanded(r.linkFolder, linkMode) + "\\" + r.name + ".lnk -> " +
                expanded(r.targetPath, linkMode));
        return true;
    });
    auto value = [&](const RegistryRecord& r) {
        LogLine("plan: registry " + r.keyPath + "\\" + (r.valueName.empty() ? "(default)" : r.valueName) + " = " +
                (r.valueType == 1 ? "REG_DWORD " + std::to_string(r.Number()) : "REG_SZ \"" + expanded(r.Text()) + "\""));
        return true;
    };
    ForEachRecord(state, &ScriptHalf::registry, value);
    ForEachRecord(state, &ScriptHalf::programs, [&](const ProgramRecord& r) {
        if (r.action == kProgramActionRun)
            LogLine("plan: program " + expanded(r.programPath) + " " + expanded(r.arguments) +
                    (r.waitForExit ? ", waited for" : ""));
        return true;
    });
    for (const UninstallValue& v : uninstall) value(v.record);
}

}  // namespace

bool BuildUninstallValues(const SetupState& state, const LocalTime& today, std::vector<UninstallValue>& out) {
    out.clear();
    const ScriptHeader& h = state.script.First().header;
    const bool full = h.setupKind == kSetupKindFull;
    const std::string& target = state.folders.targetDir;
    const std::string keyPath = kUninstallRoot + h.uninstallKey;
    if (keyPath.size() >= kPathField) return false;
    auto record = [&](const char* name, int logExistingKey) {
        UninstallValue v;
        v.record.keyPath = keyPath;
        v.record.valueName = name;
        v.record.generatedFlag = 1;
        v.logExistingKey = logExistingKey;
        return v;
    };
    auto add = [&](const char* name, const std::string& data, int logExistingKey) {
        UninstallValue v = record(name, logExistingKey);
        v.record.valueType = 2;
        if (!v.record.SetText(data)) return false;
        out.push_back(std::move(v));
        return true;
    };
    auto addNumber = [&](const char* name, std::uint32_t number) {
        UninstallValue v = record(name, 1);
        v.record.valueType = 1;
        v.record.SetNumber(number);
        out.push_back(std::move(v));
        return true;
    };
    const std::string uninstaller = "\"" + target + "\\uninstall.exe\" " + h.modelName;
    // The uninstaller's path is quoted: unquoted, a folder with spaces makes
    // the system try C:\Program.exe first.
    bool ok = (!full || add("DisplayName", h.displayName, 0)) && (!full || add("UninstallString", uninstaller, 1)) &&
              add("InstalledPath", target, 1) && add("InstalledVersion", InstalledVersion(state), 1) &&
              (!full || add("Installed MainModule", h.mainModuleTarget, 1));
    // What the system's list of programs and deployment tools read, after
    // the values above and logged as they are, so the uninstaller removes
    // them too. An update keeps the version and name they show current.
    if (ok && full) {
        const std::uint64_t kib = (state.packageFileBytes + 1023) / 1024;
        ok = add("DisplayVersion", InstalledVersion(state), 1) && add("Publisher", h.companyName, 1) &&
             add("InstallLocation", target, 1) && add("QuietUninstallString", uninstaller + " /a /s", 1) &&
             addNumber("EstimatedSize", kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib)) &&
             add("DisplayIcon", h.mainModuleTarget.empty() ? target + "\\uninstall.exe" : h.mainModuleTarget, 1) &&
             addNumber("NoModify", 1) && addNumber("NoRepair", 1) && add("InstallDate", DateDigits(today), 1);
    } else if (ok) {
        ok = add("DisplayVersion", InstalledVersion(state), 1) &&
             (h.displayName.empty() || add("DisplayName", h.displayName, 1));
    }
    if (!ok) out.clear();
    return ok;
}

bool CompleteInstallation(Os& os, const SetupState& state, CInstallLog& log, ProgramWaiter& waiter) {
    const ActionContext context{os, state, log};
    std::vector<UninstallValue> uninstall;
    // Checked before anything is done, so a refused registration leaves nothing half-registered.
    if (!BuildUninstallValues(state, os.Now(), uninstall)) {
        LogFailure("the uninstall registration", std::string_view(), 0, "a text too long for its field; nothing registered");
        return false;
    }
    if (!PlaceMainModule(os, state, log)) return false;
    if (long hr = os.CoInitialize(); hr != kSOk) {
        LogFailure("initialising COM on the wizard's thread", std::string_view(), hr == kSFalse ? 0 : static_cast<std::uint32_t>(hr),
                   hr == kSFalse ? "already initialised there (S_FALSE)" : std::string_view());
        return false;
    }
    if (state.Has(kSwitchNoChanges)) {
        LogPlan(state, os.Mbcs(), uninstall);
        return true;
    }

    if (!ForEachRecord(state, &ScriptHalf::shortcuts, [&](const ShortcutRecord& r) { return WriteShortcut(context, r); }))
        return false;
    if (!ForEachRecord(state, &ScriptHalf::registry,
                       [&](const RegistryRecord& r) { return WriteRegistryRecord(context, r, 0); }))
        return false;
    if (!ForEachRecord(state, &ScriptHalf::programs, [&](const ProgramRecord& r) {
            if (!RunProgram(context, r, waiter)) return false;
            os.Sleep(10);
            return true;
        }))
        return false;
    // A registration that did not happen whole is a failure: without it the
    // package cannot be removed, and an update cannot find it.
    for (const UninstallValue& v : uninstall)
        if (!WriteRegistryRecord(context, v.record, v.logExistingKey)) return false;
    return true;
}

bool SaveInstallLog(Os& os, const SetupState& state, CInstallLog& log) {
    const ScriptHeader& h = state.script.First().header;
    if (h.setupKind != kSetupKindFull) return true;
    const bool noChanges = state.Has(kSwitchNoChanges);
    // A log that could not be saved leaves the old one whole, and its digest with it.
    if (!log.Save(os, noChanges)) {
        LogFailure("saving the installed-file log", state.folders.targetDir + "\\flist.lst", os.LastError());
        return false;
    }
    if (noChanges) return true;
    LogLine("installed-file log saved: " + state.folders.targetDir + "\\flist.lst");
    // As the rest of the registration, a digest that could not be written
    // fails the step; the old one must then not refuse the new log, which
    // the uninstaller reads line by line instead.
    Os::HandlePtr key = os.RegCreateKey(RegRoot::LocalMachine, UninstallKeyPath(h.uninstallKey));
    if (!key) {
        LogFailure("opening the Uninstall key", UninstallKeyPath(h.uninstallKey), os.LastError());
        return false;
    }
    const std::string digest = Sha256Hex(log.FileBytes());
    if (os.RegSetValue(*key, kInstallLogDigestValue, kRegSz, digest.c_str(), digest.size() + 1)) {
        LogLine(std::string("registry ") + kInstallLogDigestValue + " = REG_SZ \"" + digest + "\"");
        return true;
    }
    LogFailure("recording the log's digest", kInstallLogDigestValue, os.LastError());
    os.RegDeleteValue(*key, kInstallLogDigestValue);
    return false;
}

bool FinishInstallation(Os& os, const SetupState& state, CInstallLog& log, ProgramWaiter& waiter) {
    LogLine("completion step: begins");
    bool done = CompleteInstallation(os, state, log, waiter) && SaveInstallLog(os, state, log);
    LogLine(done ? "completion step: succeeded" : "completion step: failed");
    return done;
}

}  // namespace cabsetup
