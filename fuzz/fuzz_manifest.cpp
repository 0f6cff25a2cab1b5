// Any bytes as a package manifest: errors, never a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("fuzz-manifest-" + std::to_string(getpid()) + ".toml");
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    mksetup::Manifest manifest;
    std::vector<std::string> errors;
    mksetup::LoadManifest(path, manifest, errors);
    return 0;
}
