// Whether a folder typed or picked in the folder browser may become the
// installation folder: a drive path of valid names, nothing else.
#pragma once

#include <string>

#include "platform/codepage.h"

namespace cabsetup {

// 0 valid, 1 not a valid name.
int IsValidFolderPath(const CodePage& cp, const std::string& path);
// 1 valid, 0 not.
int IsValidFolderName(const CodePage& cp, const std::string& name);

}  // namespace cabsetup
