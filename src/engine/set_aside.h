// Files beside a destination while it is replaced: the old file set aside
// (so that a failed replacement can put it back) and the new one being
// unpacked (so that nothing partial ever stands at the destination).
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// "<file><suffix>" where that fits the system's path limit; beside a long
// path, a short name made from the file's path (`lead` and a hash), never
// longer than the file's own name where it can be, so that it fits wherever
// the file fits and a "file in use" is never reported for a path too long.
std::string NameBeside(const CodePage& cp, const std::string& destination, const char* suffix, char lead);

// The old file while its replacement is unpacked: beside it, hidden.
class SetAside {
public:
    SetAside(Os& os, std::string destination);
    ~SetAside() { Restore(); }
    SetAside(const SetAside&) = delete;
    SetAside& operator=(const SetAside&) = delete;

    // A copy left behind by a run that crashed while unpacking is the only
    // copy known to be whole: it goes back over whatever stands at the
    // destination, a partial file included. It is never deleted unless it
    // is back in place.
    void RecoverLeftover();
    bool Move();
    // The replacement failed: whatever it left at the destination goes, the old file comes back.
    void Restore();
    void Discard();

private:
    Os& os_;
    std::string destination_, aside_;
    std::uint32_t attributes_ = 0;
    bool moved_ = false;
};

}  // namespace cabsetup
