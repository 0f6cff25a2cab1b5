// Path, file-search and registry utilities shared by the whole program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/path_text.h"

namespace cabsetup {

// Creates every missing level of path; true when the folder exists at the end.
// `made` (optional) gets each folder this call created, as it was named.
bool CreateFolderPath(Os& os, const std::string& path, std::vector<std::string>* made = nullptr);
// True when a non-folder entry matches pattern; out (optional) gets it.
bool FindFileMatch(Os& os, const std::string& pattern, FindData* out = nullptr);
// True when a folder entry matches pattern; out (optional) gets it.
bool FindFolderMatch(Os& os, const std::string& pattern, FindData* out = nullptr);

// A whole file of at most `limit` bytes; false when it cannot be opened or
// read, or is larger.
bool ReadWholeFile(Os& os, const std::string& path, std::uint64_t limit, std::string& out);

// One string value, read through a full-access open; empty when the key or
// value is absent, cannot be opened that way or is longer than 255 bytes.
std::string ReadRegistryString(Os& os, RegRoot root, const std::string& subkey, const std::string& valueName);

}  // namespace cabsetup
