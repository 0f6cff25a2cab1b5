// The report of `mksetup try`: every run of the package, the checks drawn
// from it, and the two forms it is written in (index.html for people,
// report.json for CI).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "try_facts.h"

namespace mksetup::trying {

struct Check {
    std::string name;  // "en wizard: texts fit their controls"
    bool ok = true;
    std::string detail;
};

enum class RunKind { Wizard, Unattended, DryRun };

struct RunReport {
    std::string language;  // "en", "ko"
    RunKind kind = RunKind::Wizard;
    std::string command;
    bool started = false;
    long long exitCode = -1;
    std::vector<PageFact> pages;
    std::vector<BoxFact> boxes;
    std::string statusFile;  // installerror.txt, "" when absent
    Changes installed;
    std::vector<LinkFact> links;
    std::string flist;
    bool flistFound = false;
    std::string logPath, log;
    bool logWritten = false;
    // Removal through the registered UninstallString.
    std::string removalCommand;
    long long removalExit = -1;
    std::vector<BoxFact> removalBoxes;
    std::vector<Leftover> leftovers;
    // A dry run: the installation it ran over, whose files and values it must leave alone.
    InstallRecord over;
    std::vector<Check> checks;

    std::string Name() const;  // "en wizard", "en unattended", "en dry run"
    bool Passed() const;
};

// What the package is expected to show, from its folder.
struct PackageTraits {
    bool sidePicture = false;  // setup.bmp beside setup.exe
    bool license = false;
};

// Draws the run's checks from its facts.
void Evaluate(RunReport& run, const PackageTraits& traits);

struct TryReport {
    std::string package;
    std::string setupExe, driver;
    std::vector<RunReport> runs;
    std::vector<std::string> notes;  // what could not be done, said once
    std::vector<const Check*> Failed() const;
};

std::string ReportJson(const TryReport& report);
// Pictures are named relative to the report's folder.
std::string ReportHtml(const TryReport& report);

}  // namespace mksetup::trying
