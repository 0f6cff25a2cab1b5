// The cabinets of one data set: replace decisions, unpacking each cabinet
// into its destination and logging it.
#include <atomic>
#include <functional>

#include "app/folders.h"
#include "app/paths.h"
#include "app/package_check.h"
#include "app/switches.h"
#include "engine/background_writer.h"
#include "engine/install_worker.h"
#include "engine/replace_decision.h"
#include "engine/set_aside.h"
#include "runlog/run_log.h"

namespace cabsetup {

namespace {

// The data volumes' stream as the source of one cabinet.
class StreamSource : public CabinetSource {
public:
    explicit StreamSource(VolumeReader& reader) : reader_(reader) {}
    bool Read(unsigned char* buffer, std::size_t size) override { return reader_.Read(buffer, size); }

private:
    VolumeReader& reader_;
};

// Also lets the wizard's status line catch up while a long file is decoded.
class WriterSink : public CabinetSink {
public:
    WriterSink(BackgroundWriter& writer, std::function<void()> tick) : writer_(writer), tick_(std::move(tick)) {}
    bool Write(const unsigned char* data, std::size_t size) override {
        tick_();
        return writer_.Write(data, size);
    }

private:
    BackgroundWriter& writer_;
    std::function<void()> tick_;
};

std::atomic<bool> systemUnpackerOnly{false};

// What stands at a destination, as a search for it finds it: one query of
// the named file where no wildcard asks for the search itself, which costs a
// folder's opening and listing per file. False when the system could not
// tell (access denied, a device error): a file that may be there must not
// be taken for a new one, nor kept or replaced on a guess.
bool Standing(Os& os, const std::string& destination, StandingFile& standing) {
    FindData found;
    if (destination.find_first_of("*?") != std::string::npos) {
        standing.present = FindFileMatch(os, destination, &found);
    } else {
        standing.present = os.FileInfo(destination, found);
        if (!standing.present && !ProvenAbsent(os)) return false;
        // A folder of that name does not count, as a search for files does not find it.
        if (found.attributes & kAttrDirectory) standing.present = false;
    }
    standing.attributes = found.attributes;
    standing.sizeLow = found.sizeLow;
    return true;
}

}  // namespace

void InstallEngine::SetSystemUnpackerOnly(bool only) { systemUnpackerOnly = only; }

bool InstallEngine::ExtractAllCabinets() {
    // Files are written on a second thread while the next one is decoded;
    // "/p" writes nothing and needs none.
    std::unique_ptr<BackgroundWriter> writer;
    if (!state_.Has(kSwitchNoChanges)) writer = std::make_unique<BackgroundWriter>(os_);
    // Without memory to write with, no file can be placed.
    if (writer && !writer->Ready()) {
        SetStatusText(kIdsCantFindData);
        return false;
    }
    writer_ = writer.get();
    enum class Outcome { Done, Failed, FailedWithText, Stopped } outcome = Outcome::Done;
    const VolumeHeader& h = reader_.CurrentHeader();
    bool mainSet = h.setType == kSetTypeMain || h.setType == kSetTypeMainUpdate;
    for (std::uint32_t i = 0; i < h.cabinetCount; ++i) {
        bool errorFlag = false;
        if (!ExtractCabinet(mainSet ? i : kFirstLinkedCabinet + i, errorFlag) || (writer && writer->Failed())) {
            outcome = errorFlag || packageChanged_ ? Outcome::FailedWithText : Outcome::Failed;
            break;
        }
        if (!Check()) {
            outcome = Outcome::Stopped;
            break;
        }
    }
    // Every file handed over is in place, or undone, before the outcome counts.
    if (writer && !writer->Drain() && outcome == Outcome::Done) outcome = Outcome::Failed;
    if (outcome == Outcome::Stopped) LogLine("engine: stopped at the user's request");
    writer_ = nullptr;
    reader_.Tap(nullptr);
    vouched_ = nullptr;
    if (outcome == Outcome::Failed) SetStatusText(kIdsCantFindData);
    return outcome == Outcome::Done;
}

bool InstallEngine::ExtractCabinet(std::uint32_t expected, bool& errorFlag) {
    ++cabinetsDone_;
    CabinetRecord record;
    // A signed package's record is proven before its path is used at all.
    if (state_.vouch.Active()) {
        vouched_ = state_.vouch.list.FindCabinet(expected);
        cabinetDigest_ = Sha256();
        reader_.Tap(&cabinetDigest_);
    }
    if (!reader_.ReadCabinetRecord(record) || record.cabinetNumber != expected) {
        LogFailure("reading cabinet record " + std::to_string(expected), std::string_view(), 0,
                   "missing, damaged or out of order");
        return false;
    }
    if (!BeginVouchedCabinet(expected, record)) return false;
    state_.packageFileBytes += record.fileSize;  // every file, written or kept: the package's size

    std::string destination = record.targetPath;
    ExpandPlaceholders(os_.Mbcs(), state_, destination, kExpandAllUsers);
    SetStatusText(kIdsInstalling, destination);
    ReportProgress(ProgressKind::PerCabinet);
    // A path the system cannot take is refused here, not cut into another one.
    if (destination.size() >= kMaxPath) {
        LogFailure("placing a file", destination, 0, "path of 260 characters or more");
        return false;
    }

    // The file before may still be on its way to this very destination.
    if (writer_ && writer_->Pending(destination) && !writer_->Drain()) return false;

    const bool noChanges = state_.Has(kSwitchNoChanges);
    auto old = std::make_unique<SetAside>(os_, destination);
    // In a folder this run created, no file and no set-aside copy can be
    // waiting but what this run wrote: no lookups there. Everywhere else
    // the leftover and the standing file are looked for.
    const bool nothingThere = !noChanges && freshFolders_.NothingCanStand(destination);
    if (!noChanges && !nothingThere) old->RecoverLeftover();
    StandingFile standing;
    if (!nothingThere && !Standing(os_, destination, standing)) {
        LogFailure("looking at the destination", destination, os_.LastError());
        errorFlag = true;
        SetStatusText(kIdsFileInUse, destination);
        return false;
    }
    ReplaceDecision decision = DecideReplace(standing, record.replaceMode, record.fileSize, noChanges);
    if (decision.Writes()) freshFolders_.Writing(destination);
    if (decision.action == ReplaceAction::Keep) {
        if (RunLogOn())
            LogLine("file " + destination + ": " + DescribeDecision(decision) + ", " + std::to_string(standing.sizeLow) +
                    " bytes stay; the package's " + std::to_string(record.fileSize) + " bytes are skipped");
        if (!reader_.Skip(record.cabinetSize) || !CabinetVouched()) return false;
        if (log_) log_->AddFile(destination);
        return true;
    }
    if (decision.setAside && !old->HasRoom()) {  // a path too long to replace the file safely
        LogFailure("replacing a file", destination, 0, "no room for the name the old file is set aside under");
        return false;
    }
    // Tested before anything moves, so a file in use fails exactly here, the
    // old file in its place: a running program can be renamed but not deleted.
    if (decision.action == ReplaceAction::Refuse) {
        LogFailure("replacing a file", destination, 0, DescribeDecision(decision));
        errorFlag = true;
        SetStatusText(kIdsFileInUse, destination);
        return false;
    }
    if (decision.setAside && (!os_.CanDeleteNow(destination) || !old->Move())) {
        LogFailure("replacing a file (in use?)", destination, os_.LastError());
        errorFlag = true;
        SetStatusText(kIdsFileInUse, destination);
        return false;
    }
    decisionText_ = DescribeDecision(decision);
    return PlaceFile(expected, record, destination, old);
}

bool InstallEngine::PlaceFile(std::uint32_t expected, const CabinetRecord& record, const std::string& destination,
                              std::unique_ptr<SetAside>& old) {
    const bool noChanges = state_.Has(kSwitchNoChanges);
    // Our own reader takes the cabinets of one file (all that mksetup
    // writes) straight from the volumes; any other goes through the
    // workspace to the system's cabinet interface, with the bytes the
    // reader has already taken from the stream.
    StreamSource source(reader_);
    CabinetShape shape = CabinetShape::Other;
    if (!systemUnpackerOnly) {
        shape = cabinet_.ReadHeader(source, record.cabinetSize);
        if (shape == CabinetShape::Damaged) {
            LogFailure("reading the cabinet of", destination, 0, "damaged cabinet header");
            return false;
        }
    }
    std::string cabinet = state_.workDir + "\\" + std::to_string(expected) + ".cab";
    if (RunLogOn())
        LogLine("file " + destination + ": " + decisionText_ + ", " +
                std::to_string(record.fileSize) + " bytes, " +
                (shape == CabinetShape::OneFile ? "own cabinet reader" : "system cabinet interface through the workspace") +
                (noChanges ? " (plan: nothing written)" : ""));
    if (shape == CabinetShape::Other) {
        os_.DeleteFile(cabinet);
        std::span<const unsigned char> taken = cabinet_.Consumed();
        std::size_t takenSize = systemUnpackerOnly ? 0 : taken.size();
        if (!reader_.CopyCabinetData(record, cabinet, true, taken.data(), takenSize)) {
            LogFailure("copying the cabinet into the workspace", cabinet, os_.LastError());
            return false;
        }
        // Proven before the system's cabinet interface is handed it.
        if (!CabinetVouched()) {
            os_.DeleteFile(cabinet);
            return false;
        }
    }
    if (log_) log_->AddFile(destination);
    if (!Check()) return false;
    // Creating and testing a path costs a dozen system calls: each folder is
    // made once per run, however the package interleaves them.
    std::string folder = ParentFolder(os_.Mbcs(), destination);
    if (!noChanges && !foldersMade_.count(folder)) {
        std::vector<std::string> made;
        if (!CreateFolderPath(os_, folder, &made)) {
            LogFailure("creating the folder", folder, os_.LastError());
            return false;
        }
        foldersMade_.insert(folder);
        for (const std::string& f : made) freshFolders_.Made(f);
    }
    if (shape == CabinetShape::OneFile) return DecodeIntoPlace(record, destination, old);
    return UnpackThroughSystem(record, cabinet, destination, *old);
}

bool InstallEngine::UnpackThroughSystem(const CabinetRecord& record, const std::string& cabinet,
                                        const std::string& destination, SetAside& old) {
    if (record.fileSize == 0) {
        bool placed = PlaceEmptyFile(destination, old);
        os_.DeleteFile(cabinet);
        return placed;
    }
    if (state_.Has(kSwitchNoChanges)) {
        os_.DeleteFile(cabinet);
        return true;
    }
    bool unpacked = os_.ExtractCabinet(cabinet, destination);
    const std::uint32_t error = unpacked ? 0 : os_.LastError();
    os_.DeleteFile(cabinet);
    // The cabinet interface checks block checksums but not the file's size,
    // and leaves a partial file when it fails: both are ours to catch.
    FindData result;
    if (!unpacked || !FindFileMatch(os_, destination, &result) || result.sizeLow != record.fileSize ||
        result.sizeHigh != 0) {
        LogFailure("unpacking through the system's cabinet interface", destination, error,
                   unpacked ? "the unpacked file is not the size the package gives" : std::string_view());
        os_.DeleteFile(destination);
        return false;  // the old file comes back as `old` goes
    }
    old.Discard();
    return true;
}

bool InstallEngine::PlaceEmptyFile(const std::string& destination, SetAside& old) {
    // "/p" changes nothing: an empty file is made only where none exists and
    // its folder already stands (a dry run makes no folders, and a clean
    // machine must not fail it), never by truncating one that is there.
    bool keep = false;
    if (state_.Has(kSwitchNoChanges)) {
        std::string folder = ParentFolder(os_.Mbcs(), destination);
        bool folderStands = folder.size() <= 2 || FindFolderMatch(os_, folder);
        keep = !folderStands || FindFileMatch(os_, destination);
    }
    if (!keep && !os_.CreateAlways(destination)) {
        LogFailure("creating the empty file", destination, os_.LastError());
        return false;
    }
    old.Discard();
    return true;
}

bool InstallEngine::DecodeIntoPlace(const CabinetRecord& record, const std::string& destination,
                                    std::unique_ptr<SetAside>& old) {
    StreamSource source(reader_);
    if (cabinet_.FileSize() != record.fileSize) {
        LogFailure("reading the cabinet of", destination, 0, "its file's size is not the size the record gives");
        return false;
    }
    if (state_.Has(kSwitchNoChanges) || record.fileSize == 0) {
        // Every block is decoded and checked, and written nowhere: a dry
        // run ("/p") proves the whole medium readable.
        if (!cabinet_.Decode(source, nullptr) || !reader_.Skip(cabinet_.Remaining())) {
            LogFailure("checking the cabinet of", destination, 0, "damaged cabinet data");
            return false;
        }
        if (!CabinetVouched()) return false;
        return record.fileSize != 0 || PlaceEmptyFile(destination, *old);
    }
    // Unpacked beside the destination, hidden, and moved into its place only
    // when every block and the size have passed: nothing partial ever
    // stands at the destination. The writer puts the old file back when not.
    std::string fresh = NameBeside(os_.Mbcs(), destination, ".cabsetup-new", '$');
    if (fresh.empty()) {  // a path too long for anything beside it
        LogFailure("placing a file", destination, 0, "no room for the name it is unpacked under");
        return false;
    }
    writer_->Begin(fresh, destination, std::move(old), record.fileSize);
    WriterSink sink(*writer_, [this] { ProgressTick(); });
    // The last check before the file may take the destination's place: its
    // cabinet's digest, once every byte of it has been read.
    bool whole = cabinet_.Decode(source, &sink) && reader_.Skip(cabinet_.Remaining());
    if (!whole && !writer_->Failed()) LogFailure("unpacking", destination, 0, "damaged cabinet data; the old file stays");
    whole = whole && CabinetVouched();
    writer_->End(whole);
    return whole;
}

void InstallEngine::PackageChangedAt(const std::string& file) {
    packageChanged_ = true;
    LogFailure("checking the package's digests", file, 0, "changed since the package was signed");
    SetStatusText(kIdsPackageChanged, file);
}

bool InstallEngine::SetVouched() {
    if (!state_.vouch.Active()) return true;
    const VolumeHeader& h = reader_.CurrentHeader();
    const DigestListSet* set = state_.vouch.list.FindSet(h.setType);
    if (set && set->cabinetCount == h.cabinetCount && set->header == reader_.HeaderDigest()) return true;
    PackageChangedAt(VolumeFileName(h.setType, 0));
    return false;
}

bool InstallEngine::BeginVouchedCabinet(std::uint32_t expected, const CabinetRecord& record) {
    if (!state_.vouch.Active()) return true;
    Digest recordDigest = cabinetDigest_.Final();
    if (vouched_ && vouched_->number == expected && vouched_->size == record.cabinetSize &&
        vouched_->record == recordDigest)
        return true;
    PackageChangedAt(VolumeFileName(reader_.CurrentHeader().setType, vouched_ ? vouched_->volume : reader_.VolumeIndex()));
    return false;
}

bool InstallEngine::CabinetVouched() {
    if (!state_.vouch.Active()) return true;
    reader_.Tap(nullptr);
    if (vouched_ && cabinetDigest_.Final() == vouched_->cabinet) return true;
    PackageChangedAt(VolumeFileName(reader_.CurrentHeader().setType, vouched_ ? vouched_->volume : reader_.VolumeIndex()));
    return false;
}

}  // namespace cabsetup
