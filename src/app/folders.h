// System folder discovery and placeholder expansion.
#pragma once

#include <cstdint>
#include <string>

#include "app/setup_state.h"
#include "platform/os.h"

namespace cabsetup {

constexpr int kExpandAllUsers = 1;  // prefer the all-users shell folders
constexpr int kExpandCurrentUser = 2;

// Fills the folder table (and targetDir of a full installation that has
// none yet) and ends by setting osCode.
void DiscoverFolders(Os& os, SetupState& state);

// Replaces the placeholders of `text` in place, in their fixed order.
void ExpandPlaceholders(const CodePage& cp, const SetupState& state, std::string& text, int mode);

std::int32_t OsCodeFor(const OsVersion& v);
std::int32_t RestartOsCodeFor(const OsVersion& v);

}  // namespace cabsetup
