// The engine's temporary workspace: a new folder under the Windows temp
// folder for every run, holding the cabinet copies.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// Creates "<base>\_setup_YYYYMMDDhhmmss_" from the local time; when that
// name is taken (another run in the same second), "_2", "_3", ... follow, so
// no two runs share a folder. Returns the path, or empty on failure.
std::string CreateWorkspace(Os& os, const std::string& baseFolder);

// Deletes the files in the workspace and the folder itself.
void RemoveWorkspace(Os& os, const std::string& workDir);

}  // namespace cabsetup
