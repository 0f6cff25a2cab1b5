// Replacing an installed file by renames only: the old file is set aside
// beside it, the new one put in its place, and only then the old one
// deleted. A failure at any point leaves the old file (or, once the new one
// stands, the new one) whole at the target.
#pragma once

#include <functional>
#include <string>

#include "platform/os.h"

namespace cabsetup {

// `putNew` moves the new file to `target`, which does not exist then. False
// (with the old file back in place) when anything failed.
bool ReplaceByRenames(Os& os, const std::string& target, const std::function<bool()>& putNew);

}  // namespace cabsetup
