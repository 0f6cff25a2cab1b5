// Unpacks a one-file cabinet with an independent reader: libmspack on Linux,
// the system's cabinet interface (SetupIterateCabinetA) on Windows.
#pragma once

#include <filesystem>
#include <string>

namespace mksetup {

// Unpacks the cabinet's file to `out`; false with `error` when the cabinet
// is unreadable, corrupted or does not hold exactly one file.
bool UnpackSingleFile(const std::filesystem::path& cabinet, const std::filesystem::path& out, std::string& error);

}  // namespace mksetup
