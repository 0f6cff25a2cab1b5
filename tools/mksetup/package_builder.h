// Builds a whole package from a manifest: setup.inf, Data.inf, the volumes
// of both sets, and the program, licence and picture beside them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "manifest.h"

namespace mksetup {

struct BuildOptions {
    std::filesystem::path outDir;
    std::filesystem::path setupExe;  // empty: no program copied
    bool clean = false;              // empty outDir first instead of refusing a non-empty one
    // Called after every file with files and payload bytes done and in all.
    std::function<void(std::size_t, std::size_t, std::uint64_t, std::uint64_t)> progress;
};

struct BuildResult {
    std::filesystem::path setupFolder;
    std::vector<std::filesystem::path> volumes;
    std::uint64_t payloadBytes = 0, packageBytes = 0;
};

bool BuildPackage(const Manifest& manifest, const BuildOptions& options, BuildResult& result, std::string& error);

}  // namespace mksetup
