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
    int failed = 0;     // files that could neither be deleted nor scheduled
    // Steps found, at the moment of acting, to lead through a link or
    // junction: not acted on.
    std::vector<std::string> refused;
};

// Every step but the registration's. Folders go after the files: those the
// log names, and those inside `target` that this removal emptied, deepest
// first; a folder goes only when empty, and a link as itself.
RemovalOutcome CarryOut(Os& os, const RemovalPlan& plan, const std::string& target);

// The registration's steps, its log digest included: the last of the
// package, once nothing has failed. Values the start-up of a later run and
// the system's list of programs find the package by go last of all.
void RemoveRegistration(Os& os, const RemovalPlan& plan, RemovalOutcome& outcome);

}  // namespace cabsetup
