// What start-up tells the run log: the switches decided, the script, the
// folder table and the previous-installation check.
#pragma once

#include <string>

#include "app/setup_state.h"

namespace cabsetup {

void LogSwitches(const SetupState& state, const std::string& logSwitchPath);
void LogScript(const SetupState& state);
// Every folder of the folder table, by its name, and the system's code.
void LogFolders(const SetupState& state);

}  // namespace cabsetup
