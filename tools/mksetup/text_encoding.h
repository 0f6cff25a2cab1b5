// The manifest is UTF-8; setup.inf and the volume records hold texts in the
// target system's ANSI code page.
#pragma once

#include <string>

namespace mksetup {

// Converts UTF-8 text to code page `codePage` (1252, 949, 932, ...). False
// when a character has no representation there.
bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out);

}  // namespace mksetup
