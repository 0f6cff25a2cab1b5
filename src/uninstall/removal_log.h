// What the uninstaller tells the run log: the plan it made from the
// installed-file log (every line it skipped and why), and how it went.
#pragma once

#include <string>

#include "uninstall/removal.h"
#include "uninstall/removal_plan.h"

namespace cabsetup {

const char* PathVerdictText(PathVerdict verdict);
// Every step of the plan, then every skipped line with its reason.
void LogRemovalPlan(const RemovalPlan& plan);
void LogRemovalOutcome(const RemovalOutcome& outcome);

}  // namespace cabsetup
