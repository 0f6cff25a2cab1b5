#include "app/startup.h"

#include "app/folders.h"
#include "app/message_text.h"
#include "app/package_check.h"
#include "app/paths.h"
#include "app/run_outcome.h"
#include "app/single_instance.h"
#include "app/startup_log.h"
#include "app/switches.h"
#include "runlog/log_name.h"
#include "runlog/run_log.h"

namespace cabsetup {

int ExitCodeFor(StartupOutcome outcome) {
    switch (outcome) {
    case StartupOutcome::Proceed: return kExitSuccess;
    case StartupOutcome::InitError: return kExitFatal;
    case StartupOutcome::NoPreviousInstall: return kExitNoPreviousInstall;
    case StartupOutcome::WrongVersion: return kExitWrongVersion;
    case StartupOutcome::AlreadyRunning: return kExitAlreadyRunning;
    case StartupOutcome::PackageChanged: return kExitFatal;
    }
    return kExitFatal;
}

std::string UninstallKeyPath(const std::string& uninstallKey) {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + uninstallKey;
}

std::string FolderOfUninstallString(const CodePage& cp, const std::string& uninstallString) {
    if (uninstallString.empty() || uninstallString[0] != '"') return ParentFolder(cp, uninstallString);
    std::string quoted = uninstallString.substr(1);
    std::size_t close = cp.FindChar(quoted, '"');
    if (close != std::string::npos) quoted.resize(close);
    return ParentFolder(cp, quoted);
}

VersionCheck CheckInstalledVersion(const CodePage& cp, const std::string& installed, const std::string& required,
                                   const std::string& model) {
    if (installed.empty() || cp.Compare(installed, model) == 0) return VersionCheck::Passes;
    if (cp.Compare(installed, required) < 0) return VersionCheck::Refused;
    return cp.Compare(installed, model) < 0 ? VersionCheck::Passes : VersionCheck::Refused;
}

namespace {

StartupResult Refuse(Os& os, const SetupState& state, StartupOutcome outcome, unsigned stringId,
                     const std::string& formatArgument) {
    const CodePage& cp = os.Mbcs();
    std::string text = FormatEachS(cp, os.LoadString(stringId), formatArgument);
    ExpandPlaceholders(cp, state, text, kExpandAllUsers);
    return {outcome, text, nullptr};
}

// An update finds the earlier installation's folder and checks its version.
StartupResult CheckPreviousInstallation(Os& os, SetupState& state) {
    const CodePage& cp = os.Mbcs();
    const ScriptHeader& h = state.script.First().header;
    std::string key = UninstallKeyPath(h.uninstallKey);
    std::string folder = ReadRegistryString(os, RegRoot::LocalMachine, key, "InstalledPath");
    if (folder.empty())
        folder = FolderOfUninstallString(cp, ReadRegistryString(os, RegRoot::LocalMachine, key, "UninstallString"));
    if (folder.empty()) {
        LogLine("previous installation: none found under HKEY_LOCAL_MACHINE\\" + key + ": refused (an update needs one)");
        return Refuse(os, state, StartupOutcome::NoPreviousInstall, kIdsNoPreviousInstall, h.requiredVersion);
    }
    state.folders.targetDir = folder;

    std::string installed = ReadRegistryString(os, RegRoot::LocalMachine, key, "InstalledVersion");
    bool refused = CheckInstalledVersion(cp, installed, h.requiredVersion, h.modelVersion) == VersionCheck::Refused;
    if (RunLogOn())
        LogLine("previous installation: found in " + folder + ", installed version \"" + installed +
                "\", accepted from \"" + h.requiredVersion + "\" to below \"" + h.modelVersion + "\" (or equal to it): " +
                (refused ? "refused" : "update proceeds"));
    if (refused) return Refuse(os, state, StartupOutcome::WrongVersion, kIdsWrongVersion, std::string());
    return {};
}

StartupResult PackageChanged(Os& os, const std::string& file) {
    LogFailure("checking the package's digests", file, 0, "changed since the package was signed");
    std::string text = os.LoadString(kIdsPackageChanged);
    ReplaceEvery(os.Mbcs(), text, "*msg1*", file);
    return {StartupOutcome::PackageChanged, text, nullptr};
}

}  // namespace

StartupResult RunStartup(Os& os, SetupState& state, const std::string& arguments, const unsigned char* digestBody) {
    const CodePage& cp = os.Mbcs();
    state.restartOsCode = RestartOsCodeFor(os.Version());
    state.switchFlags = ParseSwitches(cp, arguments);
    LogSwitches(state, LogSwitchPath(arguments));
    state.sourceDir = ParentFolder(cp, os.ModulePath());
    // A signed package proves every file beside setup.exe before any is used.
    std::string changed;
    if (!TakeDigestBlock(os, state, digestBody, changed)) return PackageChanged(os, changed);
    const Digest* scriptDigest =
        state.vouch.Active() ? &state.vouch.block.Of(VouchedFile::SetupInf) : nullptr;
    bool scriptChanged = false;
    if (!state.script.LoadScript(os, true, std::string(), state.sourceDir, nullptr, scriptDigest, &scriptChanged)) {
        if (scriptChanged) return PackageChanged(os, "setup.inf");
        LogFailure("reading the setup script", state.sourceDir + "\\setup.inf", 0, "missing or not a valid setup script");
        return {StartupOutcome::InitError, kInitErrorText, nullptr};
    }
    if (!CheckVouchedFiles(os, state, changed)) return PackageChanged(os, changed);
    LogScript(state);

    const ScriptHeader& h = state.script.First().header;
    // Before anything is read that the other run may be changing.
    Os::HandlePtr lock;
    if (!HoldInstanceLock(os, h.uninstallKey, lock))
        return Refuse(os, state, StartupOutcome::AlreadyRunning, kIdsAlreadyRunning, std::string());
    if (h.setupKind == kSetupKindUpdate) {
        StartupResult check = CheckPreviousInstallation(os, state);
        if (check.outcome != StartupOutcome::Proceed) return check;
    } else if (state.Has(kSwitchUnattended)) {
        state.folders.targetDir =
            ReadRegistryString(os, RegRoot::LocalMachine, UninstallKeyPath(h.uninstallKey), "InstalledPath");
        LogLine("previous installation: " + (state.folders.targetDir.empty()
                                                  ? std::string("none registered; the script's folder is used")
                                                  : "registered in " + state.folders.targetDir + ", installed there again"));
    } else {
        LogLine("previous installation: not looked for (a full installation run interactively)");
    }
    DiscoverFolders(os, state);
    LogFolders(state);
    StartupResult result;
    result.instanceLock = std::move(lock);
    return result;
}

void WriteStatusFile(Os& os, const std::string& text) {
    Os::HandlePtr file = os.CreateAlways(kStatusFileName);
    if (file && os.Write(*file, text.data(), text.size())) {
        LogLine("status file " + std::string(kStatusFileName) + ": \"" + text + "\"");
        if (RunLogOn()) TheRunLog()->NoteStatusFile(text);
        return;
    }
    LogFailure("writing the status file", kStatusFileName, os.LastError());
    // An answer that could not be written must not leave an earlier run's
    // behind: no file at all reads as no success.
    file.reset();
    os.DeleteFile(kStatusFileName);
    if (RunLogOn()) TheRunLog()->NoteStatusFile(std::string());
}

void ReportStartupRefusal(Os& os, const SetupState& state, const StartupResult& result) {
    if (state.Has(kSwitchStatusFile)) {
        WriteStatusFile(os, "Error");
        return;
    }
    ShowMessage(os, result.message, std::string(), kMbOk);
}

}  // namespace cabsetup
