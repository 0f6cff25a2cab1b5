// Carries out a removal plan through the OS seam: files and registry entries
// first, then the folders the log names and those this removal emptied; the
// package's registration only once everything else has gone.
#pragma once

#include <string>
#include <vector>

#include "uninstall/removal_plan.h"

namespace cabsetup {

struct RemovalOutcome {
    int removed = 0;    // files, folders, values and keys gone
    int scheduled = 0;  // files in use, deleted when the system next starts
    // Files that could neither be deleted nor scheduled, and entries a
    // lookup or removal failed for (not because they were gone).
    int failed = 0;
    // Steps found, at the moment of acting, to lead through a link or
    // junction: not acted on.
    std::vector<std::string> refused;
};

// Every step but the registration's. Folders go after the files: those the
// log names, and those inside `target` that this removal emptied, deepest
// first; a folder goes only when empty, and a link as itself.
RemovalOutcome CarryOut(Os& os, const RemovalPlan& plan, const std::string& target);

// The registration's steps, its log digest included: the last of the
// package, once nothing has failed. The values a later run finds the
// package by go last of all. False when something of it could not be removed.
bool RemoveRegistration(Os& os, const RemovalPlan& plan, RemovalOutcome& outcome);

}  // namespace cabsetup
