// One registry entry of the setup script: the key opened or created, the
// value written, both recorded in the installed-file log.
#pragma once

#include "actions/action_context.h"
#include "formats/setup_script.h"

namespace cabsetup {

// The root key a name stands for ("HKEY_CURRENT_USER", ...), compared
// exactly; false when it is none of the seven.
bool RootKeyByName(const std::string& name, RegRoot& root);

// False for an unknown root, a key neither opened nor created, or a value
// type other than 1 and 2. logExistingKey: log the key even if it existed.
bool WriteRegistryRecord(const ActionContext& context, const RegistryRecord& record, int logExistingKey);

}  // namespace cabsetup
