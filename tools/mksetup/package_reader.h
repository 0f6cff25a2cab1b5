// Reading any package back: `inspect` prints it, `verify` unpacks every
// cabinet and checks it, optionally against the manifest it was built from.
#pragma once

#include <filesystem>
#include <ostream>

#include "formats/package_digests.h"
#include "manifest.h"

namespace mksetup {

// Both return the number of problems found (0: the package is sound).
int InspectPackage(const std::filesystem::path& dir, std::ostream& out);
// With `shippedSetup`, the package's setup.exe must be that program with at
// most a filled digest block and a signature added.
int VerifyPackage(const std::filesystem::path& dir, const Manifest* against, std::ostream& out,
                  const std::filesystem::path& shippedSetup = {});

// What a signed package's setup.exe vouches for, computed from the package
// as setup.exe reads it: the digest list of both sets, and where each file
// the block names lies (empty when the package has none).
struct PackageDigests {
    cabsetup::DigestList list;
    std::filesystem::path setupFolder, dataInf;
};
bool ComputePackageDigests(const std::filesystem::path& dir, PackageDigests& out, std::string& error);

// Writes setup.sha beside setup.exe and fills the package's setup.exe's
// digest block; the program is signed afterwards.
bool VouchForPackage(const std::filesystem::path& dir, std::string& error);

// The block a package's files call for: the digest of each that is there.
bool BlockForPackage(const PackageDigests& digests, cabsetup::DigestBlock& block, std::string& error);

}  // namespace mksetup
