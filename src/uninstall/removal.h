// Carries out a removal plan through the OS seam, then removes the empty
// folders the installation left inside its folder (it logs none of them).
#pragma once

#include <string>
#include <vector>

#include "uninstall/removal_plan.h"

namespace cabsetup {

struct RemovalOutcome {
    int removed = 0;    // files, folders, values and keys gone
    int scheduled = 0;  // files in use, deleted when the system next starts
    int failed = 0;     // files that could neither be deleted nor scheduled
};

RemovalOutcome CarryOut(Os& os, const std::vector<RemovalStep>& steps, const std::string& target);

// Every empty folder inside `target`, deepest first, then `target` itself
// when empty. Links and junctions are removed as links, never entered.
void RemoveEmptyFolders(Os& os, const std::string& target);

}  // namespace cabsetup
