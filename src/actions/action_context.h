// What every install action works with: the system, the setup state it reads
// and the installed-file log it records into.
#pragma once

#include "actions/install_log.h"
#include "app/setup_state.h"
#include "platform/os.h"

namespace cabsetup {

struct ActionContext {
    Os& os;
    const SetupState& state;
    CInstallLog& log;
};

}  // namespace cabsetup
