// Files beside a destination while it is replaced: the old file set aside
// (so that a failed replacement can put it back) and the new one being
// unpacked (so that nothing partial ever stands at the destination).
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// "<file><suffix>" where that fits the system's path limit. Beside a long
// path: `lead` and a hash of the whole path (case folded, as the file system
// compares names) in as many hex digits as fit, sixteen at most and eight at
// least, so that no two files of a folder share a name and a copy found
// under one was made for this very destination. Every file of one folder
// gets as many digits (the room left depends on the folder alone), so a
// later run finds the name an earlier one made. "" when not even eight
// digits fit (a folder of 250 characters or more, which CreateDirectoryA
// never makes): nothing can be put beside that file.
std::string NameBeside(const CodePage& cp, const std::string& destination, const char* suffix, char lead);

// The old file while its replacement is unpacked: beside it, hidden.
class SetAside {
public:
    SetAside(Os& os, std::string destination);
    ~SetAside() { Restore(); }
    SetAside(const SetAside&) = delete;
    SetAside& operator=(const SetAside&) = delete;

    // False when no name beside the destination fits: it cannot be set aside.
    bool HasRoom() const { return !aside_.empty(); }
    // A copy left behind by a run that crashed while unpacking is the only
    // copy known to be whole: it goes back over whatever stands at the
    // destination, a partial file included. It is never deleted unless it
    // is back in place.
    void RecoverLeftover();
    bool Move();
    // The replacement failed: whatever it left at the destination goes, the
    // old file comes back with the attributes it had.
    void Restore();
    // The replacement is in place: the old file goes. One that something
    // still holds stays hidden, out of recovery's way, until the next start.
    void Discard();

private:
    Os& os_;
    std::string destination_, aside_;
    std::uint32_t attributes_ = 0;
    bool moved_ = false;
};

}  // namespace cabsetup
