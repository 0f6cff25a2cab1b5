// The script of the small full package the action and completion tests
// install: "Tool 1.2" under the Uninstall key ToolKey, main module tool.exe.
#pragma once

#include "formats/setup_script.h"

namespace cabsetup::testing {

inline ScriptHalf ToolScript() {
    ScriptHalf first;
    first.header.setupKind = kSetupKindFull;
    first.header.modelName = "Tool";
    first.header.modelVersion = "1.2";
    first.header.displayName = "<MODEL_NAME> <MODEL_VERSION>";
    first.header.uninstallKey = "ToolKey";
    first.header.mainModuleTarget = "<TARGET_DIR>\\tool.exe";
    return first;
}

}  // namespace cabsetup::testing
