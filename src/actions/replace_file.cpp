#include "actions/replace_file.h"

#include "app/run_outcome.h"

namespace cabsetup {

bool ReplaceByRenames(Os& os, const std::string& target, const std::function<bool()>& putNew) {
    std::uint32_t attributes = 0;
    const bool old = os.GetAttributes(target, attributes);
    if (!old && !ProvenAbsent(os)) return false;
    const std::string aside = target + ".cabsetup-old";
    if (old && (aside.size() >= kMaxPath || !os.MoveFile(target, aside))) return false;
    if (!putNew()) {
        if (old) os.MoveFile(aside, target);
        return false;
    }
    // A copy that cannot go now (a scanner holds it) goes at the next start, out of sight until then.
    if (old && !(os.SetAttributes(aside, kAttrArchive) && os.DeleteFile(aside))) {
        os.SetAttributes(aside, kAttrHidden);
        if (os.DeleteAtRestart(aside)) NoteRemovalAtRestart();
    }
    return true;
}

}  // namespace cabsetup
