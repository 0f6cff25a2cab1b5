// Start-up's half of a signed package's proof: setup.exe's own signature,
// its digest block, and the files beside it that the block vouches for.
#pragma once

#include <string>

#include "app/setup_state.h"
#include "platform/os.h"

namespace cabsetup {

// "*msg1*: this file of the package has been changed since it was signed".
constexpr unsigned kIdsPackageChanged = 6062;

// The largest file beside setup.exe that is read whole to be checked.
constexpr std::uint64_t kMaxVouchedFileBytes = 64u << 20;

// Reads setup.exe's digest block (its body, after the marker) into the
// state. An empty block vouches for nothing and checks nothing. False, with
// the file to name in `changed`, for a damaged block, or a filled one whose
// program's signature is missing or broken.
bool TakeDigestBlock(Os& os, SetupState& state, const unsigned char* body, std::string& changed);

// With a filled block: setup.sha, license.txt and setup.bmp beside setup.exe
// against the block (present ones must match, absent ones must not be
// there), and the digest list read. False with the file to name.
bool CheckVouchedFiles(Os& os, SetupState& state, std::string& changed);

// The whole file's SHA-256, read through the seam; false when it cannot be
// read whole or is larger than `limit`. `absent` tells a file proven not to
// be there from one that could not be read.
bool DigestOfFile(Os& os, const std::string& path, std::uint64_t limit, Digest& digest, std::string* bytes,
                  bool* absent);

}  // namespace cabsetup
