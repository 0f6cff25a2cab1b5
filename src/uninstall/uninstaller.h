// uninstall.exe's logic, through the OS seam: the question, the copy that
// runs the removal so the program's own file and folder can go too, the
// removal itself and the exit code deployment tools read.
//
// Started as the registration wrote it ("<folder>\uninstall.exe" MODEL
// [/a] [/s]), the program asks once, copies itself into a fresh folder only
// administrators and the system may write, and starts the copy, which
// removes the package, hands the exit code back through a pipe and, once
// the first process has ended, deletes the program's file and folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "uninstall/removal.h"

namespace cabsetup {

constexpr int kUninstallRemoved = 0, kUninstallRestartNeeded = 3010, kUninstallAnsweredNo = 1602,
              kUninstallFailed = 1603;

// uninstall.exe's texts.
constexpr unsigned kIdsUninstallQuestion = 6101, kIdsUninstallCaption = 6102, kIdsLogUnreadable = 6103,
                   kIdsRemovedAfterRestart = 6104, kIdsRemoved = 6105, kIdsNotAllRemoved = 6106,
                   kIdsLogChanged = 6107;

struct UninstallArguments {
    std::string model;
    bool unattended = false;  // "/a": no question, no message of success
    bool status = false;      // "/s": the status file, no message box at all
    bool asked = false;       // the question was answered already
    std::string logPath;      // "/l=<path>": the run log's file
    // In the copy: the original program, the pipe for the exit code and the
    // process to outlive.
    std::string from, result;
    std::uint32_t parent = 0;
};
UninstallArguments ParseUninstallArguments(std::string_view commandLine);

// Failed (a file neither deleted nor scheduled) wins over scheduled: 1603,
// then 3010, else 0.
int RemovalExitCode(const RemovalOutcome& outcome);

// The Uninstall subkeys whose "UninstallString" or "InstalledPath" name
// `target` as the package's folder, and the log's digest each recorded.
struct Registration {
    std::string key;     // the subkey's name under the Uninstall key
    std::string digest;  // InstallLogDigest, lower-case hex; "" when none was recorded
};
// False when one of them could not be read: a digest may then be missed.
bool FindRegistrations(Os& os, const std::string& target, std::vector<Registration>& found);

enum class LogTrust {
    Proven,    // its digest matches one the installation recorded
    Unproven,  // no digest recorded (installed before digests): each line is proven on its own
    Changed,   // a digest was recorded and none matches: refused whole
};
LogTrust CheckLog(const std::vector<Registration>& registrations, std::string_view log);

// The removal of the package whose uninstaller is `uninstaller` (its folder
// is the package's): the log read and proven, the plan carried out, the
// registration, the log and the digest removed only when nothing failed; the
// user told (unless "/s"), the status file written (with "/s"). Returns the
// exit code. `plan`, when given, receives the plan with its skipped lines.
int RemovePackage(Os& os, const UninstallArguments& arguments, const std::string& uninstaller,
                  RemovalPlan* plan = nullptr);

// The whole program for its command line; returns the exit code.
int RunUninstaller(Os& os, std::string_view commandLine);

// Opens the process's run log (when one is kept): the copy appends to the
// log its first process began; the first process writes to /l=<path> or to
// %TEMP%\cabsetup-<key>-uninstall-<date-time>.log, the key being the
// package's registration in the uninstaller's folder (the model name from
// the command line when none is found).
void OpenUninstallLog(Os& os, const UninstallArguments& arguments, const std::string& self);

// The fresh private folder the copy runs from: "<Windows>\Temp\cabsetup-<random>".
std::string MakePrivateFolder(Os& os);

}  // namespace cabsetup
