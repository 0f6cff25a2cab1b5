// mksetup: builds, inspects and verifies setup packages.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cabsetup_version.h"
#include "code_signing.h"
#include "manifest.h"
#include "package_builder.h"
#include "package_reader.h"
#include "scratch.h"
#include "shipped_programs.h"
#ifndef _WIN32
#include "try_run.h"
#endif

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

// The programs the package ships, as found in its folders.
std::vector<fs::path> ShippedProgramsIn(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (it->is_regular_file(ec) && (name == "setup.exe" || name == "uninstall.exe")) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Signs every program of a built package; false after printing why not.
bool SignPackage(const fs::path& dir, const mksetup::SigningOptions& signing) {
    std::vector<fs::path> programs = ShippedProgramsIn(dir);
    if (programs.empty()) {
        std::cerr << "mksetup: nothing to sign: the package holds no setup.exe\n";
        return false;
    }
    for (const fs::path& p : programs) {
        std::string error;
        if (!mksetup::SignProgram(p, signing, error)) {
            std::cerr << "mksetup: " << error << "\n";
            return false;
        }
        std::printf("signed %s\n", p.string().c_str());
    }
    return true;
}

// Reports each program's signature; false when one is present but not valid.
// With `required` (a --ca to check against) anything but a valid signature
// is false: an unsigned program, and one that could not be checked.
bool ReportSignatures(const fs::path& dir, const fs::path& ca, bool required) {
    std::vector<fs::path> programs = ShippedProgramsIn(dir);
    if (required && programs.empty()) {
        std::cerr << "mksetup: --ca: the package holds no setup.exe or uninstall.exe whose signature could be checked\n";
        return false;
    }
    bool good = true;
    for (const fs::path& p : programs) {
        mksetup::SignatureReport r = mksetup::CheckSignature(p, ca);
        std::string name = fs::relative(p, dir).string();
        switch (r.state) {
        case mksetup::SignatureReport::State::Unsigned:
            std::printf("%s: unsigned\n", name.c_str());
            if (required) good = false;
            break;
        case mksetup::SignatureReport::State::Valid:
            std::printf("%s: signed by %s, valid\n", name.c_str(), r.signer.c_str());
            break;
        case mksetup::SignatureReport::State::Invalid:
            std::printf("%s: signed by %s, NOT VALID: %s\n", name.c_str(), r.signer.empty() ? "?" : r.signer.c_str(),
                        r.detail.c_str());
            good = false;
            break;
        case mksetup::SignatureReport::State::Unchecked:
            std::printf("%s: signature not checked: %s\n", name.c_str(), r.detail.c_str());
            if (required) {
                std::fflush(stdout);
                std::cerr << "mksetup: --ca: cannot check " << name << "'s signature: " << r.detail << "\n";
                good = false;
            }
            break;
        }
    }
    return good;
}

// A program the package ships: the one named, else the one installed with
// mksetup (said on stdout when `say`), else none.
fs::path ShippedProgram(const fs::path& named, const char* program, bool say) {
    if (!named.empty()) return named;
    fs::path found = mksetup::FindShippedProgram(program);
    if (!found.empty() && say) std::printf("%s: %s\n", program, found.string().c_str());
    return found;
}

struct BuildRequest {
    fs::path manifestPath, outDir, setupExe, uninstallExe;
    mksetup::SigningOptions signing;
    bool clean = false, quiet = false;
};

// `mksetup build`: 0 when the package was built (and signed, when asked).
int RunBuild(const BuildRequest& r) {
    fs::path setupExe = r.setupExe, uninstallExe = r.uninstallExe, outDir = r.outDir;
    const mksetup::SigningOptions& signing = r.signing;
    const bool clean = r.clean, quiet = r.quiet;
    mksetup::Manifest m;
    if (!Load(r.manifestPath, m)) return 1;
    mksetup::BuildOptions options;
    options.outDir = outDir;
    setupExe = ShippedProgram(setupExe, "setup.exe", true);
    if (setupExe.empty()) {
        std::cerr << "mksetup: warning: no --setup-exe, and none installed with mksetup (looked in";
        for (const fs::path& p : mksetup::ShippedProgramPlaces("setup.exe")) std::cerr << " " << p.string();
        std::cerr << "): the package holds no setup.exe\n";
    }
    // The uninstaller is signed before it is packed: Windows checks it where it is installed.
    fs::path uninstaller = ShippedProgram(uninstallExe, "uninstall.exe", true);
    // Signed as a copy in a folder only this user can open, which goes
    // with mksetup however it ends.
    std::unique_ptr<mksetup::PrivateFolder> scratch;
    if (!uninstaller.empty() && signing.Wanted() && m.uninstaller &&
        m.script.header.setupKind == cabsetup::kSetupKindFull) {
        std::string error;
        scratch = mksetup::PrivateFolder::Create(error);
        if (!scratch) {
            std::cerr << "mksetup: " << error << "\n";
            return 1;
        }
        const fs::path& copy = scratch->Reserve("uninstall.exe");
        std::error_code ec;
        fs::copy_file(uninstaller, copy, ec);
        if (ec || !mksetup::SignProgram(copy, signing, error)) {
            std::cerr << "mksetup: " << (ec ? "cannot copy " + uninstaller.string() + ": " + ec.message() : error) << "\n";
            return 1;
        }
        std::printf("signed %s\n", uninstaller.filename().string().c_str());
        uninstaller = copy;
    }
    if (m.uninstaller && m.script.header.setupKind == cabsetup::kSetupKindFull &&
        !mksetup::AddUninstaller(m, uninstaller))
        std::cerr << "mksetup: warning: no --uninstall-exe, and none installed with mksetup: the package "
                     "installs no uninstaller (say uninstaller = false in [package] if none is wanted)\n";
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
    if (!signing.Wanted()) return 0;
    // The signed setup.exe vouches for every other file of the package:
    // its digest block is filled first, so that the signature covers it.
    if (!mksetup::VouchForPackage(outDir, error)) {
        std::cerr << "mksetup: " << error << "\n";
        return 1;
    }
    std::printf("vouched for setup.inf, %s and every cabinet in setup.exe's digest block\n", "setup.sha");
    return SignPackage(outDir, signing) ? 0 : 1;
}

#ifndef _WIN32
// `mksetup try`: a built package as it is; a folder with a manifest and no
// setup.exe is built first, once, into a private folder that goes afterwards.
// (try starts itself again on a virtual display: the second start finds the
// package already built through the environment.)
int TryFolder(mksetup::trying::TryOptions options, BuildRequest build) {
    build.manifestPath = options.packageDir / "manifest.toml";
    if (!mksetup::trying::SetupExeIn(options.packageDir).empty() || !fs::is_regular_file(build.manifestPath)) return mksetup::trying::TryPackage(options);
    if (const char* built = std::getenv("MKSETUP_TRY_BUILT")) {
        options.packageDir = built;
        return mksetup::trying::TryPackage(options);
    }
    std::string error;
    std::unique_ptr<mksetup::PrivateFolder> scratch = mksetup::PrivateFolder::Create(error);
    if (!scratch) {
        std::cerr << "mksetup try: " << error << "\n";
        return 2;
    }
    build.outDir = scratch->Reserve("package");
    build.quiet = true;
    std::printf("building %s\n", build.manifestPath.string().c_str());
    std::fflush(stdout);
    int built = RunBuild(build);
    std::fflush(stdout);
    if (built != 0) return 2;
    setenv("MKSETUP_TRY_BUILT", build.outDir.c_str(), 1);
    options.packageDir = build.outDir;
    return mksetup::trying::TryPackage(options);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mksetup: builds, inspects and verifies setup packages"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "mksetup (cabsetup) " CABSETUP_VERSION);

    fs::path setupExe, uninstallExe, dir, against, ca;
    BuildRequest b;
    b.signing.description = "Setup";
    CLI::App* build = app.add_subcommand("build", "build a package from a manifest");
    build->add_option("manifest", b.manifestPath, "the package's manifest (TOML)")->required();
    build->add_option("-o,--out", b.outDir, "folder that receives the package")->required();
    build->add_option("--setup-exe", b.setupExe,
                      "setup.exe to copy into the package (default: the one installed with mksetup)");
    build->add_option("--uninstall-exe", b.uninstallExe,
                      "uninstall.exe a full installation ships (default: the one installed with mksetup)");
    build->add_option("--sign-cert", b.signing.certificate, "sign the package's programs with this certificate (PEM)");
    build->add_option("--sign-key", b.signing.key, "the certificate's private key (PEM)");
    build->add_option("--sign-pkcs12", b.signing.pkcs12,
                      "sign with this PKCS#12 file instead; its password from CABSETUP_SIGN_PASSWORD, "
                      "handed to osslsigncode through a pipe, never a file");
    build->add_option("--sign-description", b.signing.description, "the programs' description in the signature");
    build->add_flag("--clean", b.clean, "empty the output folder first");
    build->add_flag("-q,--quiet", b.quiet, "no progress bar");

    CLI::App* inspect = app.add_subcommand("inspect", "print every header and record of a package");
    inspect->add_option("dir", dir, "the package's folder")->required();

    CLI::App* verify = app.add_subcommand("verify", "unpack every cabinet of a package and check it");
    verify->add_option("dir", dir, "the package's folder")->required();
    verify->add_option("--against", against, "the manifest the package was built from");
    verify->add_option("--uninstall-exe", uninstallExe, "the uninstall.exe the package was built with");
    verify->add_option("--setup-exe", setupExe,
                       "with --against: the setup.exe the package was built with (default: the one installed "
                       "with mksetup); the package's may differ only by a filled digest block and a signature");
    verify->add_option("--ca", ca, "check the programs' signatures against these certificates (PEM); "
                      "any program not validly signed fails, and so does a missing osslsigncode");

#ifndef _WIN32
    mksetup::trying::TryOptions tryOptions;
    tryOptions.reportDir = "try-report";
    std::string languages = "en,ko";
    CLI::App* tryIt = app.add_subcommand("try", "install, photograph and remove a package under a private Wine prefix, "
                                                "headless, and write a report (index.html, report.json)");
    tryIt->add_option("dir", tryOptions.packageDir, "the package's folder (setup.exe and its files), or a folder with "
                                                        "manifest.toml, built first")->required();
    tryIt->add_option("--report", tryOptions.reportDir, "folder that receives the report (default: try-report)");
    tryIt->add_option("--lang", languages, "languages whose wizard is driven, of en and ko (default: en,ko)");
    tryIt->add_flag("--unattended-only", tryOptions.unattendedOnly, "only the unattended run and the dry run");
    tryIt->add_flag("--keep-prefix", tryOptions.keepPrefix, "keep the private Wine prefix afterwards, and say where");
    tryIt->add_option("--driver", tryOptions.driver,
                      "cabsetup-drive.exe to drive the wizard with (default: the one installed with mksetup)");
    BuildRequest tryBuild;
    tryIt->add_option("--setup-exe", tryBuild.setupExe,
                      "for a folder with manifest.toml: the setup.exe to build it with (default: the one installed "
                      "with mksetup)");
    tryIt->add_option("--uninstall-exe", tryBuild.uninstallExe,
                      "for a folder with manifest.toml: the uninstall.exe to build it with");
#endif

    CLI11_PARSE(app, argc, argv);

#ifndef _WIN32
    if (tryIt->parsed()) {
        tryOptions.languages.clear();
        for (std::size_t start = 0; start <= languages.size();) {
            std::size_t comma = std::min(languages.find(',', start), languages.size());
            if (comma > start) tryOptions.languages.push_back(languages.substr(start, comma - start));
            start = comma + 1;
        }
        tryOptions.commandLine.assign(argv, argv + argc);
        return TryFolder(tryOptions, tryBuild);
    }
#endif

    if (build->parsed()) return RunBuild(b);
    if (inspect->parsed()) return mksetup::InspectPackage(dir, std::cout) == 0 ? 0 : 1;

    mksetup::Manifest m;
    if (!against.empty()) {
        if (!Load(against, m)) return 1;
        if (mksetup::AddUninstaller(m, ShippedProgram(uninstallExe, "uninstall.exe", false)))
            m.files.back().mayBeSigned = true;
    }
    fs::path shippedSetup = against.empty() ? fs::path() : ShippedProgram(setupExe, "setup.exe", false);
    bool packageGood = mksetup::VerifyPackage(dir, against.empty() ? nullptr : &m, std::cout, shippedSetup) == 0;
    std::cout.flush();
    bool signaturesGood = ReportSignatures(dir, ca, !ca.empty());
    return packageGood && signaturesGood ? 0 : 1;
}
