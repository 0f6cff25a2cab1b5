// Whether a record's file is written, replaces the file standing at its
// destination or leaves it, and why: decided from what stands there and what
// the record asks, without touching anything, so that the engine acts on it
// and a log can say it.
#pragma once

#include <cstdint>

namespace cabsetup {

// What stands at the destination, as a search for it reports it.
struct StandingFile {
    bool present = false;
    std::uint32_t attributes = 0;
    std::uint32_t sizeLow = 0;  // nFileSizeLow: the record's size is 32 bits
};

enum class ReplaceAction {
    New,      // nothing stands there: the file is written
    Replace,  // the standing file gives way to the package's
    Keep,     // the standing file stays; the cabinet is skipped
    Refuse,   // the standing file would give way but cannot: failure 6051
};

enum class ReplaceReason {
    NoFile,        // nothing, or only a folder of that name
    Always,        // replace mode 0x04
    SizeDiffers,   // replace mode 0x08, sizes differ
    UnknownMode,   // any other replace mode replaces as 0x04 does
    SameSize,      // replace mode 0x08, sizes equal
    KeepExisting,  // replace mode 0x10
    ReadOnly,      // to be replaced, but read-only
};

struct ReplaceDecision {
    ReplaceAction action = ReplaceAction::New;
    ReplaceReason reason = ReplaceReason::NoFile;
    // The standing file is moved aside before the new one is written: never
    // under "/p", which changes nothing.
    bool setAside = false;

    bool Writes() const { return action == ReplaceAction::New || action == ReplaceAction::Replace; }
};

ReplaceDecision DecideReplace(const StandingFile& standing, std::uint8_t replaceMode, std::uint32_t fileSize,
                              bool noChanges);

// A short English name for a log line: "replace (size differs)".
const char* DescribeDecision(const ReplaceDecision& decision);

}  // namespace cabsetup
