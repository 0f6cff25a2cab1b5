#include "engine/install_worker.h"

#include <chrono>
#include <thread>

#include "app/folders.h"
#include "app/message_text.h"
#include "app/package_check.h"
#include "app/paths.h"
#include "app/switches.h"
#include "engine/workspace.h"
#include "runlog/run_log.h"

namespace cabsetup {

InstallEngine::InstallEngine(Os& os, SetupState& state)
    : os_(os), state_(state), reader_(os), locator_(os, reader_), freshFolders_(os.Mbcs()) {
    reader_.SetFindVolume([this](std::uint32_t k) { return FindNextVolume(k); });
    locator_.SetAsk([this](const std::string& lookedFor, const std::string& name, std::string& answer) {
        return AskForVolume(lookedFor, name, answer);
    });
}

InstallEngine::~InstallEngine() {
    if (thread_) {
        StopInstallWorker();
    }
}

int InstallEngine::StartInstallWorker(InstallStatus* status, CInstallLog* log) {
    if (thread_) return 0;  // the worker runs once
    stopRequested_ = false;
    // Running from here on, so that a pause right after the start holds it.
    workerRunning_ = true;
    status_ = status;
    log_ = log;
    thread_ = os_.StartThread([this] { InstallWorkerMain(); });
    if (!thread_) {
        workerRunning_ = false;
        // A worker that never ran has failed, and says so as a worker says
        // it: the copying page must not wait for it for ever.
        SetFolderStatus(state_.folders.targetDir);
        // Started before the wizard's window exists: the wizard starts it
        // again when the window is there, and hears of the failure then.
        if (status_->hwnd) PostFinal(NOTIFY_FAILED);
        return 0;
    }
    return 1;
}

int InstallEngine::PauseInstallWorker(int suspend) {
    if (!thread_ || !workerRunning_) return 0;
    pauseMissedQuestion_ = !gate_.Pause(suspend != 0);
    return 1;
}

int InstallEngine::StopInstallWorker() {
    stopRequested_ = true;
    // A stop also opens the gate: the worker must reach a check to see it.
    gate_.Pause(false);
    // The worker may have reached a question to this very thread just before
    // the stop: answer it (the wizard answers a stopping engine's question as
    // cancelled) instead of waiting for each other for ever.
    while (workerRunning_) {
        os_.PumpSentMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Join();
    return 1;
}

void InstallEngine::Join() {
    if (thread_ && !thread_->IsCurrent()) {
        thread_->Join();
        thread_.reset();
    }
}

bool InstallEngine::Check() {
    gate_.Pass();
    ProgressTick();
    os_.Yield();
    return !stopRequested_;
}

void InstallEngine::SetStatusText(unsigned id, const std::string& msg1, const std::string& msg2) {
    if (status_) status_->SetText(StatusText(os_, id, msg1, msg2));
}

void InstallEngine::ReportProgress(ProgressKind kind) {
    if (!status_) return;
    std::int32_t position = ProgressPosition(kind, cabinetsDone_, reader_.CurrentHeader(), status_->Position());
    // Never backwards, whatever a set's counts say.
    if (kind != ProgressKind::Start && position < status_->Position()) position = status_->Position();
    status_->SetPosition(position);
    // The start and the finish always go; each file's only at the wizard's rate.
    if (throttle_.Changed(os_.TickCount()) || kind != ProgressKind::PerCabinet) PostProgress();
}

bool InstallEngine::WaitForWindow() {
    while (!status_->hwnd) {
        if (stopRequested_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void InstallEngine::PostProgress() {
    // Before the wizard's window exists the position waits, still unposted:
    // the first pass after it appears shows it.
    if (!status_->hwnd) return;
    // One progress message in the queue at a time: the wizard shows the latest
    // position when it handles it, and a flood of small files cannot fill the
    // queue and crowd out the final message.
    // A post the queue refuses (full, or the window gone) is dropped like
    // one the wizard skipped: the next change tries again, never sooner.
    gate_.PassThen([this] {
        if (!status_->progressPending.exchange(true) && !os_.PostNotify(status_->hwnd, NOTIFY_PROGRESS))
            status_->progressPending = false;
    });
    throttle_.Posted(os_.TickCount());
}

void InstallEngine::ProgressTick() {
    if (status_ && throttle_.Due(os_.TickCount())) PostProgress();
}

void InstallEngine::FlushProgress() {
    if (status_ && throttle_.Unposted()) PostProgress();
}

void InstallEngine::PostFinal(unsigned code) {
    if (!status_ || !WaitForWindow()) return;
    // The bar and the status line stand where the engine left them before
    // the wizard moves on.
    if (!stopRequested_) FlushProgress();
    // Never dropped while someone is there to read it: a full queue is
    // waited out, and only a wizard window that is gone ends the attempts.
    for (;;) {
        if (stopRequested_) return;
        if (gate_.PassThen([&] { return os_.PostNotify(status_->hwnd, code); })) return;
        if (!os_.WindowExists(status_->hwnd)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool InstallEngine::Fail() {
    if (!stopRequested_) {
        if (RunLogOn()) LogLine("engine failed; the wizard is told: " + (status_ ? status_->Text() : std::string()));
        PostFinal(NOTIFY_FAILED);
    }
    return false;
}

bool InstallEngine::AskForVolume(const std::string& lookedFor, const std::string& name, std::string& answer) {
    if (!status_) return false;
    // The question carries both in 256-byte fields; a longer path is refused, never cut.
    if (lookedFor.size() >= kStatusFieldSize || name.size() >= kStatusFieldSize) return false;
    // Nobody to ask until the wizard's window exists.
    if (!WaitForWindow()) return false;
    gate_.BeginAsking();
    // A stopping worker asks nobody: the wizard may be waiting for it to end.
    if (stopRequested_) {
        gate_.EndAsking();
        return false;
    }
    status_->SetText(lookedFor);
    status_->SetDetail(name);
    os_.SendNotify(status_->hwnd, NOTIFY_ASK_MEDIA);
    gate_.EndAsking();
    if (stopRequested_ || status_->Text() != "TRUE") {
        LogLine("disk question for " + name + " (looked for " + lookedFor + "): cancelled");
        return false;
    }
    answer = status_->Detail();
    LogLine("disk question for " + name + " (looked for " + lookedFor + "): answered " + answer);
    return true;
}

std::string InstallEngine::FindNextVolume(std::uint32_t k) {
    std::string path;
    if (!locator_.FindVolume(k, path)) {
        LogFailure("finding data volume " + std::to_string(k + 1), locator_.DataFolder(), 0, "not found");
        return std::string();
    }
    LogLine("volume " + std::to_string(k + 1) + " of the set: " + path);
    return path;
}

namespace {

void LogVolume(const std::string& path, const VolumeHeader& h) {
    if (RunLogOn())
        LogLine("volume opened: " + path + ", label \"" + h.label + "\", set type " + std::to_string(h.setType) + ", " +
                std::to_string(h.cabinetCount) + " cabinets");
}

}  // namespace

void InstallEngine::SetFolderStatus(const std::string& folder) {
    if (status_) status_->SetText(CutToStatusField(os_.Mbcs(), FormatEachS(os_.Mbcs(), os_.LoadString(kIdsFolderCantBeCreated), folder)));
}

bool InstallEngine::RunSteps() {
    const std::string& target = state_.folders.targetDir;
    state_.packageFileBytes = 0;
    // The workspace and the target folder: failing either ends the run with
    // a message instead of leaving the wizard waiting.
    std::string failedFolder;
    state_.workDir = CreateWorkspace(os_, state_.folders.workBaseDir, &failedFolder);
    if (state_.workDir.empty()) {
        LogFailure("creating the temporary workspace", failedFolder, os_.LastError());
        SetFolderStatus(failedFolder);
        return Fail();
    }
    LogLine("workspace: " + state_.workDir);
    std::vector<std::string> made;
    if (!state_.Has(kSwitchNoChanges) && !CreateFolderPath(os_, target, &made)) {
        LogFailure("creating the target folder", target, os_.LastError());
        SetFolderStatus(target);
        return Fail();
    }
    for (const std::string& folder : made) freshFolders_.Made(folder);
    LogLine("target folder: " + target + (state_.Has(kSwitchNoChanges) ? " (not created: /p)" : ""));
    // The log starts with the target folder itself.
    if (log_) {
        log_->SetFolder(target);
        log_->AddFile(target + "\\");
    }

    // The main set.
    locator_.SetDataFolder(state_.sourceDir);
    ReportProgress(ProgressKind::Start);
    std::string path, version;
    if (!locator_.FindFirstVolume(path)) {
        LogFailure("finding the first data volume", locator_.DataFolder(), 0, "not found");
        SetStatusText(kIdsCantFindData);
        return Fail();
    }
    if (!Check()) return false;
    if (!reader_.OpenVolume(path, &version)) {
        LogFailure("opening the data volume", path, 0, "not a readable data volume");
        return Fail();
    }
    LogVolume(path, reader_.CurrentHeader());
    if (!SetVouched()) return Fail();
    if (reader_.CurrentHeader().setType == kSetTypeLinked) state_.script.SetVolumeVersion(version);
    if (!Check()) return false;
    cabinetsDone_ = 0;
    if (!ExtractAllCabinets()) return Fail();
    if (!Check()) return false;

    // Data.inf and the linked set.
    std::string label = reader_.CurrentHeader().label;
    if (!locator_.FindLinkedVolume(label, path)) {
        LogFailure("finding the linked data set \"" + label + "\"", locator_.DataFolder(), 0, "not found");
        SetStatusText(kIdsCantFindData);
        return Fail();
    }
    if (!Check()) return false;
    // A missing or invalid Data.inf adds nothing; one that is there but
    // could not be held in memory would silently drop its actions.
    bool memoryRefused = false, changed = false;
    // A signed package that has no Data.inf uses none, wherever one may lie;
    // one it has must be the one it vouches for.
    const PackageVouch& vouch = state_.vouch;
    if (vouch.Active() && !vouch.block.Has(VouchedFile::DataInf)) {
        state_.script.ClearSecond();
    } else {
        state_.script.LoadScript(os_, false, ParentFolder(os_.Mbcs(), path), state_.sourceDir, &memoryRefused,
                                 vouch.Active() ? &vouch.block.Of(VouchedFile::DataInf) : nullptr, &changed);
    }
    if (changed) {
        PackageChangedAt("Data.inf");
        return Fail();
    }
    if (memoryRefused) {
        LogFailure("reading Data.inf", ParentFolder(os_.Mbcs(), path), 0, "no memory to hold it");
        SetStatusText(kIdsCantFindData);
        return Fail();
    }
    if (RunLogOn())
        LogLine(path.empty() ? std::string("linked data set: none") : "linked data set: " + path + (state_.script.Second().header.magic != 0 ? ", with Data.inf" : ", no Data.inf"));
    if (!path.empty()) {
        if (!reader_.OpenVolume(path, &version)) {
            LogFailure("opening the data volume", path, 0, "not a readable data volume");
            return Fail();
        }
        LogVolume(path, reader_.CurrentHeader());
        if (!SetVouched()) return Fail();
        state_.script.SetVolumeVersion(version);
        if (!Check()) return false;
        cabinetsDone_ = 0;
        if (!ExtractAllCabinets()) return Fail();
    }

    LogLine("engine: every file of the package is in place");
    SetStatusText(kIdsAboutToComplete);
    ReportProgress(ProgressKind::Finish);
    PostFinal(NOTIFY_DONE);
    return true;
}

void InstallEngine::InstallWorkerMain() {
    workerRunning_ = true;
    workerEntered_ = true;
    locator_.SetNeverAsk(state_.Has(kSwitchStatusFile));
    if (!RunSteps() && stopRequested_) LogLine("engine: stopped at the user's request");
    // Clean-up, on every path.
    stopRequested_ = true;
    workerRunning_ = false;
    reader_.Close();
    RemoveWorkspace(os_, state_.workDir);
}

}  // namespace cabsetup
