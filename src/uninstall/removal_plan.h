// What the uninstaller removes, read from the installed-file log
// (flist.lst): one step per line, in the log's order (longest first, so
// files before their folders and values before their keys).
//
// The log lies in a folder its users may write to, so every line is a claim
// to be proven: a line is acted on only when it provably names something of
// the package, and every other line is kept, with its reason, in the plan's
// list of skipped lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace cabsetup {

enum class RemovalKind {
    File,    // deleted (scheduled for the next start when in use)
    Folder,  // removed when empty
    Value,   // a registry value
    Key,     // a registry key's default value, then the key when nothing is left in it
};

struct RemovalStep {
    RemovalKind kind = RemovalKind::File;
    std::string path;  // File, Folder: the path as proven, the one acted on
    RegRoot root = RegRoot::LocalMachine;
    std::string subkey, value;  // Value, Key
    // A value or key of the package's own Uninstall registration: removed
    // last, and only once everything else has gone.
    bool registration = false;
    bool operator==(const RemovalStep&) const = default;
};

// Why a path cannot be trusted to mean what it seems to.
enum class PathVerdict {
    Plain,           // a drive, a backslash and names: the canonical form below is what the system opens
    NotAFullPath,    // relative, drive-relative, or climbing above its drive
    SystemPrefix,    // \\?\, \\.\, \??\ and their kin: names the system would not normalise
    NetworkPath,     // \\server\share
    DeviceName,      // CON, PRN, AUX, NUL, COM1-9, LPT1-9 ... as any part, with or without extension
    Stream,          // a colon after the drive's: an alternate data stream
    BadName,         // wildcards, control characters, or a part that is only dots and spaces
};

// The path as the system resolves it: "/" read as "\", runs of separators
// as one, "." and ".." resolved, trailing dots and spaces of every part
// removed. `out` gets "X:\a\b" (or "X:\" for a drive) when the verdict is Plain.
PathVerdict CanonicalPath(const CodePage& cp, std::string_view path, std::string& out);
// CanonicalPath's form, or "" when the path is not Plain.
std::string NormalizePath(const CodePage& cp, std::string_view path);
// Whether path lies inside folder (or is it), both made canonical, compared
// part by part without regard to case: C:\Tool is not inside C:\To.
bool IsInsideFolder(const CodePage& cp, const std::string& path, const std::string& folder);

// The canonical path with its short (8.3) names made long, as the system
// resolves them: the longest part of it that exists is asked for its long
// form; the rest is kept. "" when the long form is not Plain. False when a
// lookup failed for another reason than absence: `out` is then the path as
// given, which proves as much as it says (a short name only ever stands for
// an entry of its own folder), but may miss what the long form would match.
bool LongForm(Os& os, const std::string& canonical, std::string& out);

// Whether a folder strictly between `target` and `path` is a link or
// junction, which would lead the removal out of the installation's folder;
// Unknown when one of them could not be looked at.
enum class LinkCheck { None, Link, Unknown };
LinkCheck LinkOnTheWay(Os& os, const std::string& path, const std::string& target);

enum class SkipReason {
    NotARecord,           // an unknown tag, an empty path, an unexpanded placeholder
    UntrustedPath,        // see `verdict`
    OutsideTarget,        // a file outside the installation's folder that is no shortcut (.lnk)
    AboveTarget,          // the installation's folder's own parents, a drive
    NotAShortcutFolder,   // a folder outside the installation's folder that holds no logged shortcut
    ThroughLink,          // inside the installation's folder, but reached through a link or junction
    KeptToTheEnd,         // the uninstaller or the log itself: they go once the removal has completed
    NotChecked,           // a lookup the proof needs failed: the removal cannot complete
    RegistryOutsideRoots, // not under HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE\Software or HKEY_CURRENT_USER\Software
    OtherRegistration,    // an Uninstall registration that is not this package's
    Repeated,             // the same step again
};
const char* SkipReasonText(SkipReason reason);

struct SkippedLine {
    std::string line;
    SkipReason reason = SkipReason::NotARecord;
    PathVerdict verdict = PathVerdict::Plain;  // for UntrustedPath
};

struct RemovalPlan {
    std::vector<RemovalStep> steps;
    std::vector<SkippedLine> skipped;
    // Lines (or the target) a failed lookup kept from being proven: the
    // removal is then a failure, and a later run tries them again.
    int unchecked = 0;
};

struct PlanInputs {
    std::string target;                     // the installation's folder: where the uninstaller and the log lie
    std::vector<std::string> keep;          // files kept until the removal has completed
    std::vector<std::string> registrations; // the package's own subkeys of the Uninstall key, as the registry has them
};

// The steps for a log's text. Files go only inside the target, never
// through a link; outside it only shortcuts (.lnk), and the folders the log
// names only when a logged shortcut lies in them; never the target's parents.
// Registry entries only under the three roots above, and of the Uninstall
// key only the package's own registration.
RemovalPlan PlanRemoval(Os& os, std::string_view log, const PlanInputs& inputs);

// The part of the registry every registration lives in, under HKEY_LOCAL_MACHINE.
constexpr char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

}  // namespace cabsetup
