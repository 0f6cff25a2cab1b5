#include "engine/replace_decision.h"

#include "formats/volume_format.h"
#include "platform/os.h"

namespace cabsetup {

ReplaceDecision DecideReplace(const StandingFile& standing, std::uint8_t replaceMode, std::uint32_t fileSize,
                              bool noChanges) {
    ReplaceDecision d;
    // A folder of that name is not a file to replace: writing fails later, as it must.
    if (!standing.present || (standing.attributes & kAttrDirectory)) return d;
    switch (replaceMode) {
    case KeepExisting: d = {ReplaceAction::Keep, ReplaceReason::KeepExisting}; break;
    case ReplaceIfSizeDiffers:
        d = standing.sizeLow == fileSize ? ReplaceDecision{ReplaceAction::Keep, ReplaceReason::SameSize}
                                         : ReplaceDecision{ReplaceAction::Replace, ReplaceReason::SizeDiffers};
        break;
    case ReplaceAlways: d = {ReplaceAction::Replace, ReplaceReason::Always}; break;
    default: d = {ReplaceAction::Replace, ReplaceReason::UnknownMode}; break;
    }
    if (d.action != ReplaceAction::Replace || noChanges) return d;  // "/p" deletes nothing, so nothing stops it
    if (standing.attributes & kAttrReadOnly) return {ReplaceAction::Refuse, ReplaceReason::ReadOnly};
    d.setAside = true;
    return d;
}

const char* DescribeDecision(const ReplaceDecision& decision) {
    switch (decision.reason) {
    case ReplaceReason::NoFile: return "new";
    case ReplaceReason::Always: return "replace (always)";
    case ReplaceReason::SizeDiffers: return "replace (size differs)";
    case ReplaceReason::UnknownMode: return "replace (unknown replace mode)";
    case ReplaceReason::SameSize: return "keep (same size)";
    case ReplaceReason::KeepExisting: return "keep (keep existing)";
    case ReplaceReason::ReadOnly: return "refused (read-only)";
    }
    return "?";
}

}  // namespace cabsetup
