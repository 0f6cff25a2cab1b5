// Filling the markers of string-table texts.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// Every "%s" of format receives `argument` (the Korean texts name it more
// often than the English ones); "%%" gives "%". Nothing else is interpreted,
// so a text can never make this read an argument that is not there.
std::string FormatEachS(const CodePage& cp, const std::string& format, const std::string& argument);

// Replaces every occurrence of `marker`, left to right; what is inserted is
// not searched again.
void ReplaceEvery(const CodePage& cp, std::string& text, const std::string& marker, const std::string& value);

// The file name of `modulePath` without folder and extension: the caption of
// the program's own message boxes.
std::string ApplicationName(const CodePage& cp, const std::string& modulePath);

// Shows a message box as the program's framework does: an empty caption
// becomes the application's name, and a box given no icon gets the
// exclamation icon. Returns the button pressed.
int ShowMessage(Os& os, const std::string& text, const std::string& caption, unsigned flags);

}  // namespace cabsetup
