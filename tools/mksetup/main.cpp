// mksetup: builds, inspects and verifies setup packages.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "manifest.h"
#include "package_builder.h"
#include "package_reader.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

bool Load(const fs::path& path, mksetup::Manifest& m) {
    std::vector<std::string> errors;
    if (mksetup::LoadManifest(path, m, errors)) return true;
    for (const std::string& e : errors) std::cerr << e << "\n";
    return false;
}

// A bar on a terminal, nothing when the output goes elsewhere.
void ShowProgress(std::size_t files, std::size_t total, std::uint64_t bytes, std::uint64_t allBytes) {
    static auto last = std::chrono::steady_clock::time_point();
    auto now = std::chrono::steady_clock::now();
    if (files != total && now - last < std::chrono::milliseconds(100)) return;
    last = now;
    int width = 40, filled = allBytes ? static_cast<int>(width * bytes / allBytes) : width;
    std::fprintf(stderr, "\r[%-*s] %3d%%  %zu/%zu files", width, std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 allBytes ? static_cast<int>(100 * bytes / allBytes) : 100, files, total);
    if (files == total) std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mksetup: builds, inspects and verifies setup packages"};
    app.require_subcommand(1);

    fs::path manifestPath, outDir, setupExe, dir, against;
    bool clean = false, quiet = false;
    CLI::App* build = app.add_subcommand("build", "build a package from a manifest");
    build->add_option("manifest", manifestPath, "the package's manifest (TOML)")->required();
    build->add_option("-o,--out", outDir, "folder that receives the package")->required();
    build->add_option("--setup-exe", setupExe, "setup.exe to copy into the package (i686 for a release)");
    build->add_flag("--clean", clean, "empty the output folder first");
    build->add_flag("-q,--quiet", quiet, "no progress bar");

    CLI::App* inspect = app.add_subcommand("inspect", "print every header and record of a package");
    inspect->add_option("dir", dir, "the package's folder")->required();

    CLI::App* verify = app.add_subcommand("verify", "unpack every cabinet of a package and check it");
    verify->add_option("dir", dir, "the package's folder")->required();
    verify->add_option("--against", against, "the manifest the package was built from");

    CLI11_PARSE(app, argc, argv);

    if (build->parsed()) {
        mksetup::Manifest m;
        if (!Load(manifestPath, m)) return 1;
        mksetup::BuildOptions options;
        options.outDir = outDir;
        options.setupExe = setupExe;
        options.clean = clean;
        if (!quiet && isatty(fileno(stderr))) options.progress = ShowProgress;
        mksetup::BuildResult result;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        if (!mksetup::BuildPackage(m, options, result, error)) {
            std::cerr << "mksetup: " << error << "\n";
            return 1;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::size_t files = m.files.size() + m.linked.files.size();
        std::printf("built %s: %zu files, %zu volumes, %llu payload bytes -> %llu package bytes (%.3f) in %.2f s\n",
                    result.setupFolder.string().c_str(), files, result.volumes.size(),
                    static_cast<unsigned long long>(result.payloadBytes),
                    static_cast<unsigned long long>(result.packageBytes),
                    result.payloadBytes ? double(result.packageBytes) / double(result.payloadBytes) : 0.0, seconds);
        return 0;
    }
    if (inspect->parsed()) return mksetup::InspectPackage(dir, std::cout) == 0 ? 0 : 1;

    mksetup::Manifest m;
    if (!against.empty() && !Load(against, m)) return 1;
    return mksetup::VerifyPackage(dir, against.empty() ? nullptr : &m, std::cout) == 0 ? 0 : 1;
}
