// One shortcut of the setup script: a .lnk file in the record's folder, any
// earlier link of that name removed from both the all-users and the user's
// place first.
#pragma once

#include "actions/action_context.h"
#include "formats/setup_script.h"

namespace cabsetup {

// The expansion mode of shortcuts: all-users folders on the NT family.
int ShortcutExpandMode(const SetupState& state);

// False when the link object cannot be made, its folder cannot be created,
// its path is too long for the system, or saving it fails.
bool WriteShortcut(const ActionContext& context, const ShortcutRecord& record);

}  // namespace cabsetup
