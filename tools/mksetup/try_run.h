// `mksetup try`: runs a package under a private Wine prefix and virtual
// display, drives its wizard as a user would, installs it unattended and
// dry, removes it, and writes the report.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mksetup::trying {

struct TryOptions {
    std::filesystem::path packageDir, reportDir, driver;
    std::vector<std::string> languages{"en", "ko"};
    bool unattendedOnly = false, keepPrefix = false;
    std::vector<std::string> commandLine;  // mksetup's own, to start it again on a virtual display
};

// The name setup.exe has in `dir`, in whatever case; empty when it has none.
std::string SetupExeIn(const std::filesystem::path& dir);

// The Debian packages a try needs that are not installed, for the languages asked.
std::vector<std::string> MissingPackages(const std::vector<std::string>& languages);

// 0 when every run ended as it should and removal left nothing of the
// package; 1 when a check failed (the report names it); 2 when the try could
// not be made (said on stderr).
int TryPackage(const TryOptions& options);

}  // namespace mksetup::trying
