// Finds the data volumes: in the data folder, then (not on a floppy) in a
// folder of the volume's own name beside it, then by asking the user. The
// data folder follows the medium to wherever a volume was found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/volume_reader.h"
#include "platform/os.h"

namespace cabsetup {

class CVolumeLocator {
public:
    // Asks the user for `name`, showing `lookedFor`; true with the user's
    // path in `answer`, false when the user cancelled.
    using Ask = std::function<bool(const std::string& lookedFor, const std::string& name, std::string& answer)>;

    CVolumeLocator(Os& os, VolumeReader& reader) : os_(os), reader_(reader) {}
    virtual ~CVolumeLocator() = default;

    void SetAsk(Ask ask) { ask_ = std::move(ask); }
    // The "/s" switch: never ask, a volume that is not in its places is missing.
    void SetNeverAsk(bool never) { neverAsk_ = never; }

    bool SetDataFolder(const std::string& folder) {
        dataFolder_ = folder;
        return true;
    }
    const std::string& DataFolder() const { return dataFolder_; }
    bool IsFloppyFolder() const;

    bool FindFirstVolume(std::string& path);
    bool FindLinkedVolume(const std::string& label, std::string& path);
    bool FindVolume(std::uint32_t k, std::string& path);

private:
    bool Search(const VolumePlaces& places, bool useSecond, const std::function<bool(const std::string&)>& test,
                std::string& path);

    Os& os_;
    VolumeReader& reader_;
    Ask ask_;
    bool neverAsk_ = false;
    std::string dataFolder_;
};

}  // namespace cabsetup
