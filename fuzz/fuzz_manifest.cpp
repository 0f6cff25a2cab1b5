// Any bytes as a package manifest: errors, never a crash. Read from memory,
// so that the fuzzer spends its time in the reader, not on the disk.
#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mksetup::Manifest manifest;
    std::vector<std::string> errors;
    mksetup::LoadManifestText(std::string(reinterpret_cast<const char*>(data), size), "/fuzz/manifest.toml", manifest,
                              errors);
    return 0;
}
