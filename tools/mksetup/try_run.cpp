#include "try_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "external_tool.h"
#include "shipped_programs.h"
#include "try_report.h"

extern char** environ;

namespace fs = std::filesystem;

namespace mksetup::trying {

namespace {

const char* const kWine = "/usr/lib/wine/wine64";
const char* const kWineServer = "/usr/lib/wine/wineserver";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs argv with its output appended to `log`; the exit status (-1: not run).
int Run(const std::vector<std::string>& argv, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int r = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Linux path as Wine shows it on drive Z:.
std::string OnDriveZ(const fs::path& p) {
    std::string s = "Z:" + fs::absolute(p).lexically_normal().string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

class Try {
public:
    Try(const TryOptions& o, fs::path work) : options_(o), work_(std::move(work)) {
        drive_ = work_ / "prefix" / "drive_c";
        log_ = work_ / "wine.log";
    }

    int Run();

private:
    void Step(const std::string& what) {
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::printf("[%5.1f s] %s\n", seconds, what.c_str());
        std::fflush(stdout);
    }
    int Wine(std::vector<std::string> args, const std::string& language) {
        setenv("LANG", language == "ko" ? "ko_KR.UTF-8" : "en_US.UTF-8", 1);
        setenv("LC_ALL", language == "ko" ? "ko_KR.UTF-8" : "C.UTF-8", 1);
        args.insert(args.begin(), kWine);
        return trying::Run(args, log_);
    }
    bool PreparePrefix();
    // Runs the driver; its facts (empty when it could not run).
    std::vector<std::vector<std::string>> Drive(std::vector<std::string> args, const std::string& language);
    Snapshot Take();
    void After(RunReport& run, const Snapshot& before, const std::string& language, const std::string& id);
    void Remove(RunReport& run, const Snapshot& baseline, const std::string& language, const std::string& id);
    fs::path CopyPackage(const std::string& id);
    std::string SetupName() const;

    TryOptions options_;
    fs::path work_, drive_, log_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    TryReport report_;
    PackageTraits traits_;
    int facts_ = 0;
};

std::string Try::SetupName() const { return SetupExeIn(options_.packageDir); }

bool Try::PreparePrefix() {
    fs::create_directories(work_ / "home");
    fs::create_directories(work_ / "locale");
    setenv("WINEPREFIX", (work_ / "prefix").c_str(), 1);
    setenv("HOME", (work_ / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (work_ / "home/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work_ / "home/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (work_ / "home/.cache").c_str(), 1);
    setenv("LOCPATH", (work_ / "locale").c_str(), 1);
    setenv("WINEARCH", "win64", 1);
    setenv("WINEDEBUG", "-all", 1);
    // No .desktop files for shortcuts, no questions about Mono or Gecko.
    setenv("WINEDLLOVERRIDES", "winemenubuilder.exe=d;mscoree=d;mshtml=d", 1);
    unsetenv("WINESERVER");
    unsetenv("WINELOADER");
    if (std::find(options_.languages.begin(), options_.languages.end(), "ko") != options_.languages.end()) {
        // Wine takes its code page from the glibc locale, which must exist.
        Step("compiling the Korean locale (code page 949)");
        if (trying::Run({"/usr/bin/localedef", "-i", "ko_KR", "-f", "UTF-8", (work_ / "locale/ko_KR.UTF-8").string()}, log_) < 0 ||
            !fs::exists(work_ / "locale/ko_KR.UTF-8")) {
            std::cerr << "mksetup try: could not compile the ko_KR.UTF-8 locale (see " << log_ << ")\n";
            return false;
        }
    }
    Step("creating a private Wine prefix (up to 30 s)");
    if (Wine({"wineboot", "-i"}, "en") != 0 || !fs::is_directory(drive_)) {
        std::cerr << "mksetup try: wineboot could not create the prefix (see " << log_ << ")\n";
        return false;
    }
    trying::Run({kWineServer, "-p"}, log_);
    // The faces the string tables ask for, on fonts Debian ships.
    Wine({"reg", "add", "HKCU\\Software\\Wine\\Fonts\\Replacements", "/v", "Arial", "/d", "Liberation Sans", "/f"}, "en");
    Wine({"reg", "add", "HKCU\\Software\\Wine\\Fonts\\Replacements", "/v", "\xea\xb5\xb4\xeb\xa6\xbc", "/d", "NanumGothic", "/f"}, "ko");
    // No window manager runs: unmanaged windows skip Wine's wait for one.
    Wine({"reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"}, "en");
    fs::create_directories(drive_ / "cabsetup-try" / "logs");
    std::error_code ec;
    fs::copy_file(options_.driver, drive_ / "cabsetup-try" / "cabsetup-drive.exe", fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::cerr << "mksetup try: cannot copy the driver " << options_.driver << ": " << ec.message() << "\n";
        return false;
    }
    return true;
}

std::vector<std::vector<std::string>> Try::Drive(std::vector<std::string> args, const std::string& language) {
    std::string name = "facts-" + std::to_string(++facts_) + ".txt";
    fs::path out = drive_ / "cabsetup-try" / name;
    args.insert(args.begin() + 1, "C:\\cabsetup-try\\" + name);
    args.insert(args.begin(), "C:\\cabsetup-try\\cabsetup-drive.exe");
    Wine(args, language);
    return ParseFacts(ReadFile(out));
}

Snapshot Try::Take() {
    Snapshot s;
    // Our own folder, and what Wine rewrites on its own.
    AddFiles(s, drive_, "C:", {"c:\\cabsetup-try"});
    AddRegistry(s, Drive({"registry"}, "en"));
    return s;
}

fs::path Try::CopyPackage(const std::string& id) {
    fs::path copy = drive_ / "cabsetup-try" / id;
    std::error_code ec;
    fs::remove_all(copy, ec);
    fs::create_directories(copy);
    fs::copy(options_.packageDir, copy, fs::copy_options::recursive, ec);
    fs::remove(copy / "installerror.txt", ec);
    return copy;
}

void Try::After(RunReport& run, const Snapshot& before, const std::string& language, const std::string& id) {
    Snapshot after = Take();
    run.installed = Added(before, after);
    run.statusFile = ReadFile(drive_ / "cabsetup-try" / id / "installerror.txt");
    std::vector<std::string> linkFiles;
    for (const FileEntry& f : run.installed.files)
        if (!f.folder && f.path.size() > 4 && SameTextIgnoringCase(f.path.substr(f.path.size() - 4), ".lnk"))
            linkFiles.push_back(f.path);
    if (!linkFiles.empty()) {
        linkFiles.insert(linkFiles.begin(), "links");
        for (const auto& f : Drive(linkFiles, language))
            if (f.size() >= 7 && f[0] == "link") run.links.push_back({f[1], f[3], f[4], f[5], f[6], f[2] == "1"});
    }
    InstallRecord record = RecordOf(run.installed, "");
    if (!record.target.empty()) {
        std::string relative = record.target.size() > 3 ? record.target.substr(3) : "";
        std::replace(relative.begin(), relative.end(), '\\', '/');
        fs::path flist = drive_ / relative / "flist.lst";
        run.flistFound = fs::exists(flist);
        if (run.flistFound) run.flist = ReadFile(flist);
    }
    fs::path log = drive_ / "cabsetup-try" / "logs" / (id + "-setup.log");
    run.logWritten = fs::exists(log);
    if (run.logWritten) run.log = ReadFile(log);
}

void Try::Remove(RunReport& run, const Snapshot& baseline, const std::string& language, const std::string& id) {
    std::string command;
    for (const ValueEntry& v : run.installed.values)
        if (SameTextIgnoringCase(v.name, "UninstallString") && v.key.find("\\Uninstall\\") != std::string::npos) command = v.data;
    if (command.empty()) return;
    // As Add/Remove Programs starts it, unattended, with our log.
    const std::string logName = id + "-uninstall.log";
    run.removalCommand = command + " /a /s /l=C:\\cabsetup-try\\logs\\" + logName;
    Step(run.Name() + ": removing through the registered UninstallString");
    const fs::path shots = options_.reportDir / "shots" / (id + "-removal");
    fs::create_directories(shots);
    auto remove = [&](const std::string& commandLine) {
        run.removalBoxes.clear();
        run.removalExit = -1;
        // Started from our own folder: a current folder inside the target
        // would keep the uninstaller from removing it.
        for (const auto& f : Drive({"run", OnDriveZ(shots), commandLine, "C:\\cabsetup-try"}, language)) {
            if (f.size() >= 4 && f[0] == "box")
                run.removalBoxes.push_back({f[1], f[2], f[3].empty() ? "" : "shots/" + id + "-removal/" + f[3]});
            if (f.size() >= 2 && f[0] == "exit") run.removalExit = std::atoll(f[1].c_str());
        }
    };
    remove(run.removalCommand);
    if (run.removalExit != 0 && !fs::exists(drive_ / "cabsetup-try" / "logs" / logName)) {
        // An uninstaller that knows no "/l=" takes it for part of the package's
        // name and refuses: removal as it registered itself, without our log.
        report_.notes.push_back(run.Name() + ": the uninstaller refused \"/l=\" (exit code " + std::to_string(run.removalExit) +
                                ") and wrote no log; removed again without it");
        run.removalCommand = command + " /a /s";
        remove(run.removalCommand);
    }
    Snapshot after = Take();
    InstallRecord record = RecordOf(run.installed, run.flist);
    run.leftovers = LeftoversOf(Added(baseline, after), run.installed, record);
}

int Try::Run() {
    report_.package = fs::absolute(options_.packageDir).lexically_normal().string();
    report_.driver = options_.driver.string();
    std::string setup = SetupName();
    report_.setupExe = (options_.packageDir / setup).string();
    traits_.sidePicture = fs::exists(options_.packageDir / "setup.bmp");
    traits_.license = fs::exists(options_.packageDir / "license.txt");
    fs::create_directories(options_.reportDir / "shots");
    if (!PreparePrefix()) return 2;
    Step("reading the prefix as it is before any installation");
    Snapshot baseline = Take();

    auto install = [&](const std::string& language, RunKind kind, const std::string& id, const std::string& switches) {
        RunReport run;
        run.language = language;
        run.kind = kind;
        fs::path copy = CopyPackage(id);
        std::string setupWin = "C:\\cabsetup-try\\" + id + "\\" + setup;
        std::string arguments = switches + (switches.empty() ? "" : " ") + "/l=C:\\cabsetup-try\\logs\\" + id + "-setup.log";
        run.command = setup + " " + arguments;
        run.logPath = "C:\\cabsetup-try\\logs\\" + id + "-setup.log";
        fs::path shots = options_.reportDir / "shots" / (language + "-" + id.substr(id.find('-') + 1));
        fs::create_directories(shots);
        std::string shotsRel = "shots/" + shots.filename().string() + "/";
        Snapshot before = Take();
        std::vector<std::vector<std::string>> facts;
        if (kind == RunKind::Wizard) {
            Step(run.Name() + ": driving the wizard page by page");
            facts = Drive({"wizard", OnDriveZ(shots), setupWin, arguments}, language);
        } else {
            Step(run.Name() + ": " + setup + " " + switches);
            facts = Drive({"run", OnDriveZ(shots), "\"" + setupWin + "\" " + arguments}, language);
        }
        for (const auto& f : facts) {
            if (f.size() >= 11 && f[0] == "page") {
                PageFact p;
                p.number = std::atoi(f[1].c_str());
                p.name = f[2];
                p.picture = f[3].empty() ? "" : shotsRel + f[3];
                p.caption = f[4];
                p.face = f[5];
                p.charset = std::atoi(f[6].c_str());
                p.hangul = std::atoi(f[7].c_str());
                p.hangulMissing = std::atoi(f[8].c_str());
                p.sidePictureArea = f[9] == "1";
                p.sidePictureInk = std::atof(f[10].c_str()) / 10000.0;
                run.pages.push_back(p);
                Step(run.Name() + ": page " + p.name);
            } else if (f.size() >= 11 && f[0] == "control" && !run.pages.empty()) {
                ControlFact c;
                c.page = std::atoi(f[1].c_str());
                c.id = std::atoi(f[2].c_str());
                c.kind = f[3];
                c.fits = f[4] == "1";
                c.needWidth = std::atoi(f[5].c_str());
                c.needHeight = std::atoi(f[6].c_str());
                c.haveWidth = std::atoi(f[7].c_str());
                c.haveHeight = std::atoi(f[8].c_str());
                c.why = f[9];
                c.text = f[10];
                run.pages.back().controls.push_back(c);
            } else if (f.size() >= 4 && f[0] == "box") {
                run.boxes.push_back({f[1], f[2], f[3].empty() ? "" : shotsRel + f[3]});
                Step(run.Name() + ": message box \"" + f[2] + "\"");
            } else if (f.size() >= 2 && f[0] == "exit") {
                run.started = true;
                run.exitCode = std::atoll(f[1].c_str());
            } else if (f.size() >= 2 && f[0] == "error") {
                report_.notes.push_back(run.Name() + ": " + f[1]);
            }
        }
        Step(run.Name() + ": setup.exe ended with exit code " + std::to_string(run.exitCode));
        After(run, before, language, id);
        return run;
    };
    auto finish = [&](RunReport run) {
        if (run.kind != RunKind::DryRun) Remove(run, baseline, run.language, run.language + "-" + (run.kind == RunKind::Wizard ? "wizard" : "unattended"));
        Evaluate(run, traits_);
        for (const Check& c : run.checks)
            if (!c.ok) Step("FAILED " + c.name + (c.detail.empty() ? "" : ": " + c.detail));
        report_.runs.push_back(std::move(run));
    };

    if (!options_.unattendedOnly)
        for (const std::string& language : options_.languages) finish(install(language, RunKind::Wizard, language + "-wizard", ""));
    const std::string first = options_.languages.empty() ? "en" : options_.languages.front();
    RunReport unattended = install(first, RunKind::Unattended, first + "-unattended", "/a /s");
    // The dry run goes over that installation, which it must leave as it is.
    RunReport dry = install(first, RunKind::DryRun, first + "-dryrun", "/p /a /s");
    dry.over = RecordOf(unattended.installed, unattended.flist);
    finish(std::move(dry));
    finish(std::move(unattended));

    Step("writing the report");
    std::ofstream(options_.reportDir / "report.json", std::ios::binary) << ReportJson(report_);
    std::ofstream(options_.reportDir / "index.html", std::ios::binary) << ReportHtml(report_);
    auto failed = report_.Failed();
    for (const Check* c : failed) std::printf("FAILED: %s%s\n", c->name.c_str(), c->detail.empty() ? "" : (": " + c->detail).c_str());
    std::printf("%s: %s\n", failed.empty() ? "passed" : "failed", (options_.reportDir / "index.html").c_str());
    return failed.empty() ? 0 : 1;
}

bool HasProgram(const char* path) { return access(path, X_OK) == 0; }

// What an interrupted try must still undo: its prefix's wineserver and
// folder. Set up before the handler; the handler only forks and executes.
char gWork[4096];
bool gKeep = false;

void RunAndWait(const char* program, char* const argv[], char* const envp[]) {
    pid_t pid = fork();
    if (pid == 0) {
        execve(program, argv, envp);
        _exit(127);
    }
    if (pid > 0) waitpid(pid, nullptr, 0);
}

void Interrupted(int signal) {
    char server[] = "wineserver", kill[] = "-k", rm[] = "rm", recursive[] = "-rf";
    char* serverArgs[] = {server, kill, nullptr};
    // The whole environment: it names the prefix, and where Wine keeps its
    // server's socket follows TMPDIR.
    RunAndWait(kWineServer, serverArgs, environ);
    if (!gKeep) {
        char* rmArgs[] = {rm, recursive, gWork, nullptr};
        RunAndWait("/bin/rm", rmArgs, environ);
    }
    _exit(128 + signal);
}

}  // namespace

std::string SetupExeIn(const fs::path& dir) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        if (SameTextIgnoringCase(name, "setup.exe")) return name;
    }
    return {};
}

std::vector<std::string> MissingPackages(const std::vector<std::string>& languages) {
    std::vector<std::string> missing;
    if (!HasProgram(kWine) || !HasProgram(kWineServer)) missing.insert(missing.end(), {"wine", "wine64"});
    if (FindOnPath("xvfb-run").empty()) missing.push_back("xvfb");
    if (FindOnPath("xauth").empty()) missing.push_back("xauth");
    if (!fs::exists("/usr/share/fonts/truetype/liberation2")) missing.push_back("fonts-liberation2");
    if (std::find(languages.begin(), languages.end(), "ko") != languages.end()) {
        if (!HasProgram("/usr/bin/localedef") || !fs::exists("/usr/share/i18n/locales/ko_KR")) missing.push_back("locales");
        if (!fs::exists("/usr/share/fonts/truetype/nanum")) missing.push_back("fonts-nanum");
    }
    return missing;
}

int TryPackage(const TryOptions& o) {
    TryOptions options = o;
    std::vector<std::string> missing = MissingPackages(options.languages);
    if (!missing.empty()) {
        std::string list;
        for (const std::string& p : missing) list += " " + p;
        std::cerr << "mksetup try: needs Wine and a virtual display; missing Debian packages:" << list
                  << "\n  install them with: apt-get install" << list << "\n";
        return 2;
    }
    for (const std::string& l : options.languages)
        if (l != "en" && l != "ko") {
            std::cerr << "mksetup try: --lang: unknown language " << l << " (en, ko)\n";
            return 2;
        }
    std::error_code ec;
    if (SetupExeIn(options.packageDir).empty()) {
        std::cerr << "mksetup try: " << options.packageDir << " holds no setup.exe and no manifest.toml\n";
        return 2;
    }
    if (options.driver.empty()) options.driver = FindShippedProgram("cabsetup-drive.exe");
    if (options.driver.empty() || !fs::is_regular_file(options.driver)) {
        std::cerr << "mksetup try: no cabsetup-drive.exe (looked in";
        for (const fs::path& p : ShippedProgramPlaces("cabsetup-drive.exe")) std::cerr << " " << p.string();
        std::cerr << "); name one with --driver\n";
        return 2;
    }
    options.driver = fs::absolute(options.driver);
    options.packageDir = fs::absolute(options.packageDir);
    options.reportDir = fs::absolute(options.reportDir);

    // Never the vendor's own display: a virtual one of our own, found free by xvfb-run.
    if (!std::getenv("MKSETUP_TRY_DISPLAY")) {
        setenv("MKSETUP_TRY_DISPLAY", "1", 1);
        std::vector<std::string> argv = {FindOnPath("xvfb-run").string(), "-a", "-s", "-screen 0 1024x768x24",
                                         fs::read_symlink("/proc/self/exe", ec).string()};
        for (std::size_t i = 1; i < options.commandLine.size(); ++i) argv.push_back(options.commandLine[i]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid;
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
            std::cerr << "mksetup try: cannot start xvfb-run\n";
            return 2;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    }

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mksetup-try-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::cerr << "mksetup try: cannot create a folder in " << pattern << "\n";
        return 2;
    }
    fs::path work = pattern;
    std::snprintf(gWork, sizeof gWork, "%s", work.c_str());
    // From here on every Wine program, and the handler's wineserver -k, is
    // about our prefix: never the vendor's own.
    setenv("WINEPREFIX", (work / "prefix").c_str(), 1);
    gKeep = options.keepPrefix;
    struct sigaction stop {};
    stop.sa_handler = Interrupted;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
    fs::create_directories(options.reportDir, ec);
    int code;
    {
        Try t(options, work);
        code = t.Run();
    }
    // Only our own prefix's server: WINEPREFIX is ours.
    Run({kWineServer, "-k"}, work / "wine.log");
    Run({kWineServer, "-w"}, work / "wine.log");
    if (options.keepPrefix) std::printf("prefix kept: %s\n", (work / "prefix").c_str());
    else fs::remove_all(work, ec);
    return code;
}

}  // namespace mksetup::trying
