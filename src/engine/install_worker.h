// The install worker: a second thread that unpacks every file of the package
// and talks to the wizard only through WM_INSTALL_NOTIFY and InstallStatus.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "actions/install_log.h"
#include "app/setup_state.h"
#include "engine/engine_messages.h"
#include "engine/fresh_folders.h"
#include "engine/install_status.h"
#include "engine/pause_gate.h"
#include "engine/progress_throttle.h"
#include "engine/volume_locator.h"
#include "formats/cabinet_reader.h"
#include "formats/volume_reader.h"
#include "platform/os.h"

namespace cabsetup {

class SetAside;
class BackgroundWriter;

class InstallEngine {
public:
    InstallEngine(Os& os, SetupState& state);
    ~InstallEngine();
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;

    // 1 when the worker thread was started; 0 when it runs already, or when
    // the system refused a thread: then nothing has been done, and the
    // failure is reported as the worker's (6033 and NOTIFY_FAILED).
    int StartInstallWorker(InstallStatus* status, CInstallLog* log);
    // Holds the worker still (at its next check, post or question) or lets it
    // go on. 0 when there is no worker (none started, or it has ended).
    int PauseInstallWorker(int suspend);
    // After a pause: the worker's question for a disk was already on its way,
    // so the pause cannot hold it until the question is answered.
    bool PauseMissedAQuestion() const { return pauseMissedQuestion_; }
    // Threads held at the pause gate now (the worker, when a pause holds it).
    int HeldAtGate() const { return gate_.Held(); }
    // Asks the worker to stop and waits until it has ended. Always 1.
    int StopInstallWorker();
    bool StopRequested() const { return stopRequested_.load(); }
    bool WorkerRunning() const { return workerRunning_.load(); }
    // The worker's thread has begun its work (past the system's start of a thread).
    bool WorkerEntered() const { return workerEntered_.load(); }
    // Waits until the worker has ended by itself.
    void Join();
    // Every cabinet goes to the system's cabinet interface, as our own reader
    // would take none: for comparing the two (tests, benchmarks). Process-wide.
    static void SetSystemUnpackerOnly(bool only);
    // Where the volumes are looked for (the CD layout moves it).
    const CVolumeLocator& Locator() const { return locator_; }

private:
    // The steps of the worker.
    void InstallWorkerMain();
    bool ExtractAllCabinets();
    bool ExtractCabinet(std::uint32_t expected, bool& errorFlag);
    // The record's file is to be written: by our own reader or through the
    // workspace and the system's cabinet interface.
    bool PlaceFile(std::uint32_t expected, const CabinetRecord& record, const std::string& destination,
                   std::unique_ptr<SetAside>& old);
    bool UnpackThroughSystem(const CabinetRecord& record, const std::string& cabinet, const std::string& destination,
                             SetAside& old);
    bool DecodeIntoPlace(const CabinetRecord& record, const std::string& destination, std::unique_ptr<SetAside>& old);
    bool PlaceEmptyFile(const std::string& destination, SetAside& old);
    bool AskForVolume(const std::string& lookedFor, const std::string& name, std::string& answer);
    // A check: the pause gate, then whether to stop.
    bool Check();
    void SetStatusText(unsigned id, const std::string& msg1 = std::string(), const std::string& msg2 = std::string());
    void ReportProgress(ProgressKind kind);
    // Progress goes to the wizard at most every ProgressThrottle::kIntervalMs:
    // PostProgress posts the record as it stands, ProgressTick when an
    // unposted change has waited long enough, FlushProgress whenever one is
    // unposted (before the final message).
    void PostProgress();
    // Until the wizard's window exists (a worker started before it); false
    // when a stop came first.
    bool WaitForWindow();
    void ProgressTick();
    void FlushProgress();
    // NOTIFY_DONE and NOTIFY_FAILED are never dropped: posted until the
    // queue takes them, as long as the wizard's window exists.
    void PostFinal(unsigned code);
    bool Fail();
    bool RunSteps();
    // A signed package: the set's header against the digest list, and the
    // cabinet being read against its entry. Each sets string 6060, naming
    // the volume, when the bytes differ.
    bool SetVouched();
    bool BeginVouchedCabinet(std::uint32_t expected, const CabinetRecord& record);
    bool CabinetVouched();
    void PackageChangedAt(const std::string& file);
    // String 6033 with the folder that cannot be created.
    void SetFolderStatus(const std::string& folder);
    std::string FindNextVolume(std::uint32_t k);

    Os& os_;
    SetupState& state_;
    InstallStatus* status_ = nullptr;
    CInstallLog* log_ = nullptr;
    VolumeReader reader_;
    CabinetReader cabinet_;
    BackgroundWriter* writer_ = nullptr;  // while a set's cabinets are unpacked
    CVolumeLocator locator_;
    Os::ThreadPtr thread_;
    std::atomic<bool> stopRequested_{false}, workerRunning_{false}, workerEntered_{false};
    PauseGate gate_;
    ProgressThrottle throttle_;
    bool pauseMissedQuestion_ = false;
    std::uint32_t cabinetsDone_ = 0;
    const char* decisionText_ = "";  // the run log's word for the file being placed
    std::set<std::string> foldersMade_;
    FreshFolders freshFolders_;
    // The digest of the cabinet being read, and its entry in the digest list.
    Sha256 cabinetDigest_;
    const DigestListCabinet* vouched_ = nullptr;
    bool packageChanged_ = false;  // string 6062 is set
};

}  // namespace cabsetup
