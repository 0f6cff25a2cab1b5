#include "app/setup_state.h"

namespace cabsetup {

SetupState& TheSetupState() {
    static SetupState state;
    return state;
}

}  // namespace cabsetup
