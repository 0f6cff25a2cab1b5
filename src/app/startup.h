// The program's start-up: switches, source folder, setup.inf, the check of an
// update against the earlier installation, and the system folders.
#pragma once

#include <cstdint>
#include <string>

#include "app/setup_state.h"
#include "platform/os.h"

namespace cabsetup {

enum class StartupOutcome {
    Proceed,            // the wizard runs
    InitError,          // setup.inf missing or invalid: "Init Error!"
    NoPreviousInstall,  // update without an earlier installation: string 6048
    WrongVersion,       // update over a version outside its range: string 6049
    AlreadyRunning,     // another setup.exe of the same package runs: string 6060
    PackageChanged,     // a signed package's file differs from what it vouches for: string 6062
};

struct StartupResult {
    StartupOutcome outcome = StartupOutcome::Proceed;
    std::string message;  // the text to show when start-up refuses
    // Held until the program ends: the package's instance lock.
    Os::HandlePtr instanceLock;
};

constexpr unsigned kIdsNoPreviousInstall = 6048;
constexpr unsigned kIdsWrongVersion = 6049;
constexpr unsigned kIdsAlreadyRunning = 6060;
constexpr const char kInitErrorText[] = "Init Error!";
constexpr const char kStatusFileName[] = "installerror.txt";

// Exit codes deployment tools understand.
constexpr int kExitSuccess = 0;
constexpr int kExitCancelled = 1602;
constexpr int kExitFatal = 1603;
constexpr int kExitNoPreviousInstall = 1605;
constexpr int kExitWrongVersion = 1638;
// 112, 1618, 1641 and 3010: app/run_outcome.h.

int ExitCodeFor(StartupOutcome outcome);

// Runs start-up up to the point where the wizard takes over. `digestBody`:
// the body of setup.exe's own package digest block (null: none).
StartupResult RunStartup(Os& os, SetupState& state, const std::string& arguments,
                         const unsigned char* digestBody = nullptr);

// "Software\...\Uninstall\<key>" under HKEY_LOCAL_MACHINE.
std::string UninstallKeyPath(const std::string& uninstallKey);
// The value of that key that holds the SHA-256 of the package's flist.lst.
constexpr char kInstallLogDigestValue[] = "InstallLogDigest";

// The folder of the uninstaller named by an "UninstallString" value, quoted
// ("C:\Program Files\X\uninstall.exe" X) or not (C:\Apps\X\uninstall.exe X).
std::string FolderOfUninstallString(const CodePage& cp, const std::string& uninstallString);

enum class VersionCheck { Passes, Refused };
// Installed version V against an update's accepted range, compared as text.
VersionCheck CheckInstalledVersion(const CodePage& cp, const std::string& installed, const std::string& required,
                                   const std::string& model);

// Tells the user why start-up refused: a message box, or under "/s" the word
// "Error" in the status file and no box at all.
void ReportStartupRefusal(Os& os, const SetupState& state, const StartupResult& result);

// Writes the status file in the current folder; silently does nothing when it
// cannot be created.
void WriteStatusFile(Os& os, const std::string& text);

}  // namespace cabsetup
