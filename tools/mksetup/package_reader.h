// Reading any package back: `inspect` prints it, `verify` unpacks every
// cabinet and checks it, optionally against the manifest it was built from.
#pragma once

#include <filesystem>
#include <ostream>

#include "manifest.h"

namespace mksetup {

// Both return the number of problems found (0: the package is sound).
int InspectPackage(const std::filesystem::path& dir, std::ostream& out);
int VerifyPackage(const std::filesystem::path& dir, const Manifest* against, std::ostream& out);

}  // namespace mksetup
