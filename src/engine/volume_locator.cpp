#include "engine/volume_locator.h"

#include "app/paths.h"

namespace cabsetup {

bool CVolumeLocator::IsFloppyFolder() const {
    std::string drive = FirstComponent(os_.Mbcs(), dataFolder_);
    os_.Mbcs().ToLower(drive);
    return drive == "a:" || drive == "b:";
}

bool CVolumeLocator::Search(const VolumePlaces& places, bool useSecond,
                            const std::function<bool(const std::string&)>& test, std::string& path) {
    if (!places.first.empty() && test(places.first)) {
        path = places.first;
        return true;
    }
    if (useSecond && !places.second.empty() && !IsFloppyFolder() && test(places.second)) {
        path = places.second;
        dataFolder_ = places.secondFolder;
        return true;
    }
    if (neverAsk_ || !ask_) return false;
    std::string shown = places.first;
    for (;;) {
        std::string answer;
        if (!ask_(shown, places.name, answer)) return false;
        if (test(answer)) {
            path = answer;
            dataFolder_ = ParentFolder(os_.Mbcs(), answer);
            return true;
        }
        shown = answer;
    }
}

bool CVolumeLocator::FindFirstVolume(std::string& path) {
    return Search(PlacesOfVolume(os_.Mbcs(), dataFolder_, kSetTypeMain, 0), false,
                  [this](const std::string& p) { return reader_.IsVolumeFile(p); }, path);
}

bool CVolumeLocator::FindLinkedVolume(const std::string& label, std::string& path) {
    path.clear();
    if (label.empty()) return true;
    return Search(PlacesOfVolume(os_.Mbcs(), dataFolder_, kSetTypeLinked, 0), true,
                  [&](const std::string& p) { return reader_.IsLinkedVolumeFile(label, p); }, path);
}

bool CVolumeLocator::FindVolume(std::uint32_t k, std::string& path) {
    return Search(PlacesOfVolume(os_.Mbcs(), dataFolder_, reader_.CurrentHeader().setType, k), true,
                  [&](const std::string& p) { return reader_.IsContinuationFile(p, k); }, path);
}

}  // namespace cabsetup
