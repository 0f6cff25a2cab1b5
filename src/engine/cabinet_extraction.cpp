// The cabinets of one data set: replace decisions, copying each cabinet out
// of the volumes, unpacking it into its destination and logging it.
#include "app/folders.h"
#include "app/paths.h"
#include "app/switches.h"
#include "engine/install_worker.h"

namespace cabsetup {

namespace {

// The old file while its replacement is unpacked: beside it, hidden, so
// that a failed replacement can put it back.
class SetAside {
public:
    SetAside(Os& os, std::string destination)
        : os_(os), destination_(std::move(destination)), aside_(NameFor(os.Mbcs(), destination_)) {}

    // "<file>.cabsetup-old" where that fits the system's path limit; beside a
    // long path, a short name made from the file's path, never longer than
    // the file's own name where it can be, so that it fits wherever the
    // file fits and a "file in use" is never reported for a path too long.
    static std::string NameFor(const CodePage& cp, const std::string& destination) {
        std::string suffixed = destination + ".cabsetup-old";
        if (suffixed.size() < kMaxPath) return suffixed;
        std::uint32_t hash = 2166136261u;  // FNV-1a of the whole path
        for (unsigned char c : destination) hash = (hash ^ c) * 16777619u;
        static const char kHex[] = "0123456789abcdef";
        std::string name = "~";
        for (int shift = 28; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
        std::string folder = ParentFolder(cp, destination);
        std::size_t room = destination.size() - folder.size() - 1;  // the file name's length
        if (name.size() > room) name.resize(room < 1 ? 1 : room);
        return folder + "\\" + name;
    }

    // A copy left behind by a run that crashed while unpacking is the only
    // copy known to be whole: it goes back over whatever stands at the
    // destination, a partial file included. It is never deleted unless it
    // is back in place.
    void RecoverLeftover() {
        std::uint32_t attributes = 0;
        if (!os_.GetAttributes(aside_, attributes) || (attributes & kAttrDirectory)) return;
        std::uint32_t standing = 0;
        if (os_.GetAttributes(destination_, standing)) {
            if (standing & kAttrDirectory) return;
            os_.SetAttributes(destination_, standing & ~kAttrReadOnly);
            os_.DeleteFile(destination_);
        }
        if (os_.MoveFile(aside_, destination_)) os_.SetAttributes(destination_, attributes & ~kAttrHidden);
    }

    bool Move() {
        os_.GetAttributes(destination_, attributes_);
        if (!os_.MoveFile(destination_, aside_)) return false;
        os_.SetAttributes(aside_, attributes_ | kAttrHidden);
        moved_ = true;
        return true;
    }

    // The replacement failed: whatever it left at the destination goes, the old file comes back.
    void Restore() {
        if (!moved_) return;
        os_.DeleteFile(destination_);
        if (os_.MoveFile(aside_, destination_)) os_.SetAttributes(destination_, attributes_ & ~kAttrDirectory);
        moved_ = false;
    }

    void Discard() {
        if (!moved_) return;
        os_.SetAttributes(aside_, 0);
        os_.DeleteFile(aside_);
        moved_ = false;
    }

    ~SetAside() { Restore(); }

private:
    Os& os_;
    std::string destination_, aside_;
    std::uint32_t attributes_ = 0;
    bool moved_ = false;
};

}  // namespace

bool InstallEngine::ExtractAllCabinets() {
    const VolumeHeader& h = reader_.CurrentHeader();
    bool mainSet = h.setType == kSetTypeMain || h.setType == kSetTypeMainUpdate;
    for (std::uint32_t i = 0; i < h.cabinetCount; ++i) {
        bool errorFlag = false;
        if (!ExtractCabinet(mainSet ? i : kFirstLinkedCabinet + i, errorFlag)) {
            if (!errorFlag) SetStatusText(kIdsCantFindData);
            return false;
        }
        if (!Check()) return false;
    }
    return true;
}

bool InstallEngine::ExtractCabinet(std::uint32_t expected, bool& errorFlag) {
    ++cabinetsDone_;
    CabinetRecord record;
    if (!reader_.ReadCabinetRecord(record) || record.cabinetNumber != expected) return false;

    std::string destination = record.targetPath;
    ExpandPlaceholders(os_.Mbcs(), state_, destination, kExpandAllUsers);
    SetStatusText(kIdsInstalling, destination);
    ReportProgress(ProgressKind::PerCabinet);
    // A path the system cannot take is refused here, not cut into another one.
    if (destination.size() >= kMaxPath) return false;

    const bool noChanges = state_.Has(kSwitchNoChanges);
    std::string cabinet = state_.workDir + "\\" + std::to_string(expected) + ".cab";
    os_.DeleteFile(cabinet);

    SetAside old(os_, destination);
    if (!noChanges) old.RecoverLeftover();
    bool write = true;
    FindData existing;
    if (FindFileMatch(os_, destination, &existing)) {
        if (record.replaceMode == KeepExisting ||
            (record.replaceMode == ReplaceIfSizeDiffers && existing.sizeLow == record.fileSize))
            write = false;
        // Tested before anything moves, so a file in use fails exactly here.
        if (write && !noChanges && (!os_.CanDeleteNow(destination) || !old.Move())) {
            errorFlag = true;
            SetStatusText(kIdsFileInUse, destination);
            return false;
        }
    }
    if (!reader_.CopyCabinetData(record, cabinet, write)) return false;
    if (log_) log_->AddFile(destination);
    if (!write) return true;
    if (!Check()) return false;
    // Most files share their folder with the file before: creating the path
    // again would only repeat a dozen system calls per file.
    std::string folder = ParentFolder(os_.Mbcs(), destination);
    if (!noChanges && folder != lastFolderCreated_) {
        if (!CreateFolderPath(os_, folder)) return false;
        lastFolderCreated_ = folder;
    }

    if (record.fileSize == 0) {
        // "/p" changes nothing: an empty file is made only where none exists,
        // never by truncating one that is there.
        bool keep = noChanges && FindFileMatch(os_, destination);
        if (!keep && !os_.CreateAlways(destination)) return false;
        os_.DeleteFile(cabinet);
        old.Discard();
        return true;
    }
    if (noChanges) {
        os_.DeleteFile(cabinet);
        return true;
    }
    bool unpacked = os_.ExtractCabinet(cabinet, destination);
    os_.DeleteFile(cabinet);
    // The cabinet interface checks block checksums but not the file's size,
    // and leaves a partial file when it fails: both are ours to catch.
    FindData result;
    if (!unpacked || !FindFileMatch(os_, destination, &result) || result.sizeLow != record.fileSize ||
        result.sizeHigh != 0) {
        os_.DeleteFile(destination);
        return false;  // the old file comes back as `old` goes
    }
    old.Discard();
    return true;
}

}  // namespace cabsetup
