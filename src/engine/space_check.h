// Room on the target's drive, checked before the worker starts: what the
// package will write there against what the drive has free. Read from the
// data sets' records without unpacking anything and without asking for a
// disk; a disk that fills anyway during the run stays a failure that
// restores the old files.
#pragma once

#include <cstdint>
#include <string>

#include "app/setup_state.h"
#include "platform/os.h"

namespace cabsetup {

// The drive a path lies on: "C:" (the letter upper-cased) or a share
// "\\server\share" (lower-cased); "" for a path that names neither.
std::string DriveOf(const CodePage& cp, const std::string& path);

struct SpaceNeed {
    std::uint64_t bytes = 0;    // what the files written on the target's drive hold
    std::uint64_t largest = 0;  // the largest of them
    // Every record of both sets was read: false when a volume is not where
    // it can be found without asking (a disk still to be inserted), so that
    // the figures cover only what could be read.
    bool complete = true;
    // The largest file exists twice for a moment: written beside its
    // destination while the old one still stands, or unpacked from the
    // temporary workspace.
    std::uint64_t Needed() const { return bytes + largest; }
};

// Files kept by their replace mode (or identical in size where the size
// decides) write nothing and do not count; nor do files on other drives.
SpaceNeed MeasureSpaceNeeded(Os& os, const SetupState& state);

enum class SpaceVerdict { Enough, NotEnough, Unknown };
struct SpaceCheck {
    SpaceVerdict verdict = SpaceVerdict::Unknown;
    std::string drive;  // the target's, as DriveOf gives it
    std::uint64_t needed = 0, free = 0;
};

// Unknown when the free space cannot be read (the run goes on, as it would
// have without the check); Enough under "/p", which writes nothing.
SpaceCheck CheckFreeSpace(Os& os, const SetupState& state);
SpaceVerdict DecideSpace(std::uint64_t needed, bool freeKnown, std::uint64_t freeBytes);

// The free space of the drive that holds `folder`: asked of the folder or,
// when it does not exist yet, of the nearest folder above it that does.
bool FreeSpaceFor(Os& os, const std::string& folder, std::uint64_t& freeBytes);

// "512 KB", "12.4 MB", "3.21 GB": sizes as a message shows them. Needed
// space is rounded up and free space down, so that the two never read
// equal when one is short.
std::string SizeText(std::uint64_t bytes, bool roundUp);

}  // namespace cabsetup
