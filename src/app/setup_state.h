// The process-wide setup state every part of the program reads: the folder
// table, the switches, the source and work folders, the OS codes and the
// loaded setup script.
#pragma once

#include <cstdint>
#include <string>

#include "formats/package_digests.h"
#include "formats/setup_script.h"

namespace cabsetup {

struct FolderTable {
    std::string targetDir, systemDir, windowsDir, tempDir, workBaseDir, rootDrive, desktopDir, programFilesDir,
        startMenuDir, programsDir, startupDir, commonDesktopDir, commonStartMenuDir, commonProgramsDir,
        commonStartupDir;
    std::int32_t osCode = 0;
};

struct SetupState {
    FolderTable folders;
    std::uint32_t switchFlags = 0;
    std::string sourceDir;
    std::string workDir;
    std::int32_t restartOsCode = 0;
    SetupScript script;
    // The sum of fileSize over every file record of both data sets, counted
    // by the worker as it reads them (the registration's EstimatedSize).
    std::uint64_t packageFileBytes = 0;
    PackageVouch vouch;  // filled at start-up when setup.exe's digest block is

    bool Has(std::uint32_t switchBit) const { return (switchFlags & switchBit) != 0; }
};

// The one instance of the running program.
SetupState& TheSetupState();

}  // namespace cabsetup
