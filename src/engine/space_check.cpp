#include "engine/space_check.h"

#include <unordered_map>

#include "app/folders.h"
#include "app/paths.h"
#include "app/switches.h"
#include "engine/replace_decision.h"
#include "engine/volume_locator.h"
#include "formats/volume_reader.h"

namespace cabsetup {

std::string DriveOf(const CodePage& cp, const std::string& path) {
    if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z'))
        return std::string(1, static_cast<char>(path[0] & ~0x20)) + ":";
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share: up to the backslash after the share's name.
        auto after = [&](std::size_t from) {
            std::size_t at = cp.FindChar(std::string_view(path).substr(from), '\\');
            return at == std::string::npos ? at : at + from;
        };
        std::size_t server = after(2);
        if (server == std::string::npos || server == 2) return {};
        std::string drive = path.substr(0, after(server + 1));
        if (drive.size() == server + 1) return {};
        return cp.Lowered(drive);
    }
    return {};
}

namespace {

// Folders proven not to exist: a first installation's thousands of files
// lie in folders that are not there yet, and one look at each folder tells
// that none of its files is there either (each look at a name that is not
// there costs a search of its folder).
class AbsentFolders {
public:
    explicit AbsentFolders(Os& os) : os_(os) {}
    bool Absent(const std::string& folder) {
        auto known = absent_.find(folder);
        if (known != absent_.end()) return known->second;
        const CodePage& cp = os_.Mbcs();
        const std::string parent = ParentFolder(cp, folder);
        // A drive or a share (nor anything above it) is never taken for
        // absent; nor is a folder that could not be looked at (access
        // denied, a device error).
        bool absent = false;
        if (!parent.empty() && folder.size() > DriveOf(cp, folder).size()) {
            FindData found;
            absent = Absent(parent) || (!os_.FileInfo(folder, found) && ProvenAbsent(os_));
        }
        absent_.emplace(folder, absent);
        return absent;
    }

private:
    Os& os_;
    std::unordered_map<std::string, bool> absent_;
};

// Adds the records of the set open in `reader`; false when one cannot be read.
bool MeasureSet(Os& os, const SetupState& state, VolumeReader& reader, const std::string& drive, SpaceNeed& need) {
    const CodePage& cp = os.Mbcs();
    AbsentFolders folders(os);
    for (std::uint32_t i = 0; i < reader.CurrentHeader().cabinetCount; ++i) {
        CabinetRecord record;
        if (!reader.ReadCabinetRecord(record) || !reader.Skip(record.cabinetSize)) return false;
        std::string destination = record.targetPath;
        ExpandPlaceholders(cp, state, destination, kExpandAllUsers);
        if (record.fileSize == 0 || !cp.SameText(DriveOf(cp, destination), drive)) continue;
        StandingFile standing;
        FindData found;
        standing.present = !folders.Absent(ParentFolder(cp, destination)) && os.FileInfo(destination, found) &&
                           !(found.attributes & kAttrDirectory);
        standing.attributes = found.attributes;
        standing.sizeLow = found.sizeLow;
        // A file that will stay writes nothing; one that cannot be looked at
        // counts, as the run will write it if it can.
        if (!DecideReplace(standing, record.replaceMode, record.fileSize, false).Writes()) continue;
        need.bytes += record.fileSize;
        if (record.fileSize > need.largest) need.largest = record.fileSize;
    }
    return true;
}

}  // namespace

SpaceNeed MeasureSpaceNeeded(Os& os, const SetupState& state) {
    SpaceNeed need;
    const std::string drive = DriveOf(os.Mbcs(), state.folders.targetDir);
    VolumeReader reader(os);
    CVolumeLocator locator(os, reader);
    locator.SetNeverAsk(true);
    reader.SetFindVolume([&](std::uint32_t k) {
        std::string path;
        return locator.FindVolume(k, path) ? path : std::string();
    });
    locator.SetDataFolder(state.sourceDir);
    std::string path;
    if (!locator.FindFirstVolume(path) || !reader.OpenVolume(path) || !MeasureSet(os, state, reader, drive, need)) {
        need.complete = false;
        return need;
    }
    const std::string label = reader.CurrentHeader().label;
    if (!locator.FindLinkedVolume(label, path) ||
        (!path.empty() && (!reader.OpenVolume(path) || !MeasureSet(os, state, reader, drive, need))))
        need.complete = false;
    return need;
}

bool FreeSpaceFor(Os& os, const std::string& folder, std::uint64_t& freeBytes) {
    for (std::string at = folder; !at.empty(); at = ParentFolder(os.Mbcs(), at))
        if (os.DiskFreeSpace(at, freeBytes)) return true;
    return false;
}

SpaceVerdict DecideSpace(std::uint64_t needed, bool freeKnown, std::uint64_t freeBytes) {
    if (!freeKnown) return SpaceVerdict::Unknown;
    return needed <= freeBytes ? SpaceVerdict::Enough : SpaceVerdict::NotEnough;
}

SpaceCheck CheckFreeSpace(Os& os, const SetupState& state) {
    SpaceCheck check;
    check.drive = DriveOf(os.Mbcs(), state.folders.targetDir);
    if (state.Has(kSwitchNoChanges)) {
        check.verdict = SpaceVerdict::Enough;
        return check;
    }
    if (check.drive.empty()) return check;
    const bool known = FreeSpaceFor(os, state.folders.targetDir, check.free);
    if (!known) return check;
    check.needed = MeasureSpaceNeeded(os, state).Needed();
    check.verdict = DecideSpace(check.needed, known, check.free);
    return check;
}

std::string SizeText(std::uint64_t bytes, bool roundUp) {
    struct Unit {
        std::uint64_t size;
        const char* name;
        int decimals;
    };
    static const Unit kUnits[] = {{1ull << 30, " GB", 2}, {1ull << 20, " MB", 1}, {1ull << 10, " KB", 0}};
    for (const Unit& u : kUnits) {
        if (bytes < u.size && u.size != 1024) continue;
        std::uint64_t scale = 1;
        for (int i = 0; i < u.decimals; ++i) scale *= 10;
        // In units of 1/scale, rounded the asked way, in integers only.
        std::uint64_t whole = bytes * scale / u.size;
        if (roundUp && whole * u.size < bytes * scale) ++whole;
        std::string text = std::to_string(whole / scale);
        if (u.decimals) {
            std::string fraction = std::to_string(whole % scale);
            text += "." + std::string(static_cast<std::size_t>(u.decimals) - fraction.size(), '0') + fraction;
        }
        return text + u.name;
    }
    return "0 KB";
}

}  // namespace cabsetup
