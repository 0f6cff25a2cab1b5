// Folder parts of a Windows path, read character by character in the
// system's code page (a trail byte may look like a backslash).
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace cabsetup {

// Text before the last backslash; empty when there is none.
std::string ParentFolder(const CodePage& cp, std::string_view path);
std::string GrandparentFolder(const CodePage& cp, std::string_view path);
// Text before the first backslash; empty when there is none.
std::string FirstComponent(const CodePage& cp, std::string_view path);

}  // namespace cabsetup
