// The vendor's package manifest (TOML), read into what the builder writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/cabinet_writer.h"
#include "formats/setup_script.h"

namespace mksetup {

struct PackageFile {
    std::filesystem::path source;  // resolved against the manifest's folder
    std::string target;            // destination in the package's code page, with placeholders
    std::uint8_t replaceMode = 0;
    int line = 0;                  // where the manifest names it
    bool mayBeSigned = false;      // verify: the package may hold it with an Authenticode signature added
};

enum class Layout {
    Flat,     // every volume in one folder
    Folders,  // the first volume beside setup.exe, each further one in a sibling folder named after it
};

struct Medium {
    std::uint64_t volumeSize = 0;  // 0: one volume per set, whatever its size
    Layout layout = Layout::Flat;
    std::string firstFolder = "Setup";  // Folders layout: the folder of setup.exe
    cabsetup::CabinetOptions cabinet;
};

struct LinkedSet {
    std::string label;
    std::string volumeVersion;
    std::vector<PackageFile> files;
    cabsetup::ScriptHalf script;  // Data.inf
};

struct Manifest {
    std::filesystem::path path;
    int codePage = 1252;
    cabsetup::ScriptHalf script;  // setup.inf
    std::vector<PackageFile> files;
    bool hasLinked = false;
    LinkedSet linked;
    Medium medium;
    std::filesystem::path license, picture;  // empty: none
    bool uninstaller = true;  // a full installation ships uninstall.exe (AddUninstaller)
    std::uint32_t spanSeed = 0;  // from the manifest's bytes: the same manifest gives the same span ids
};

// Reads and checks a manifest. Every mistake is reported as
// "FILE:LINE: message" in errors; false when there is any.
bool LoadManifest(const std::filesystem::path& path, Manifest& out, std::vector<std::string>& errors);
// The same for a manifest's text; `path` names it in messages and its folder
// is where the sources are looked for.
bool LoadManifestText(const std::string& text, const std::filesystem::path& path, Manifest& out,
                      std::vector<std::string>& errors);

// A full installation's package gets uninstall.exe as <TARGET_DIR>\uninstall.exe
// (replaced always), unless the manifest says uninstaller = false. False when
// it gets none.
bool AddUninstaller(Manifest& m, const std::filesystem::path& uninstallExe);

// "none", "1.44MB" (a formatted floppy's 1,457,664 bytes), "650MB", "64KB",
// "2GB" (binary units) or a plain number of bytes. False when unreadable.
bool ParseVolumeSize(const std::string& text, std::uint64_t& bytes);

}  // namespace mksetup
