// The programs a package ships (setup.exe, uninstall.exe), found where an
// installation of mksetup keeps them when the vendor names none.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mksetup {

// Where `program` is looked for, in order: beside mksetup itself (the
// Windows zip), then ../share/cabsetup beside its folder (an installation).
std::vector<std::filesystem::path> ShippedProgramPlaces(const std::string& program);

// The first of those places that holds the program; empty when none does.
std::filesystem::path FindShippedProgram(const std::string& program);

}  // namespace mksetup
