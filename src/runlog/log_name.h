// Where a run's log goes: the path of "/l=<path>", or a new file in the
// user's %TEMP% named after the package's Uninstall key and the time.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"
#include "runlog/run_log.h"

namespace cabsetup {

// The key part when the package's key is not known (setup.inf unreadable).
constexpr char kUnknownLogKey[] = "unknown";

// "cabsetup-<key>[-uninstall]-<yyyymmdd-hhmmss>.log". Characters a file
// name cannot hold become "_"; an empty key is kUnknownLogKey.
std::string LogFileName(const CodePage& cp, std::string_view key, bool uninstaller, const LocalTime& t);

// The path given as /l=<path> (the switch in any case, the path in double
// quotes when it holds spaces); "" when there is none.
std::string LogSwitchPath(std::string_view commandLine);

// Opens the run's log: at `switchPath` (made empty) when one was given,
// else under its %TEMP% name (a name already taken gets "-2", "-3", ...).
bool OpenRunLog(Os& os, RunLog& log, const std::string& switchPath, std::string_view key, bool uninstaller);

}  // namespace cabsetup
