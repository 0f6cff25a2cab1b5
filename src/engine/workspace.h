// The engine's temporary workspace: a new folder under the Windows temp
// folder for every run, holding the cabinet copies.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// Creates "<base>\_setup_YYYYMMDDhhmmss_" from the local time; when that
// name is taken (another run in the same second), "_2", "_3", ... follow, so
// no two runs share a folder. Returns the path, or empty on failure with
// *failedFolder (when given) naming the folder that could not be created.
std::string CreateWorkspace(Os& os, const std::string& baseFolder, std::string* failedFolder = nullptr);

// Deletes the files in the workspace and the folder itself; a folder whose
// listing cannot start is left as it is.
void RemoveWorkspace(Os& os, const std::string& workDir);

}  // namespace cabsetup
