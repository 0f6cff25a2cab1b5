// <windows.h> without the A/W macros that would rename the seam's own
// operations (Os::CreateDirectory, Os::MessageBox, Os::LoadString, ...).
#pragma once

#include <windows.h>

#undef CreateDirectory
#undef MessageBox
#undef LoadString
#undef RegOpenKey
#undef RegQueryValue
#undef DeleteFile
#undef MoveFile
#undef RemoveDirectory
#undef Yield
#undef CreateProcess
#undef RegCreateKey
#undef RegSetValue
#undef RegDeleteValue
#undef RegDeleteKey
#undef CopyFile
#undef RegEnumKey
