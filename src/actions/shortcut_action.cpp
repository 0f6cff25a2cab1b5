#include "actions/shortcut_action.h"

#include "app/folders.h"
#include "app/paths.h"
#include "runlog/run_log.h"

namespace cabsetup {

namespace {

std::string Expanded(const ActionContext& context, std::string text, int mode) {
    ExpandPlaceholders(context.os.Mbcs(), context.state, text, mode);
    return text;
}

}  // namespace

int ShortcutExpandMode(const SetupState& state) {
    return state.folders.osCode >= 101 ? kExpandAllUsers : kExpandCurrentUser;
}

bool WriteShortcut(const ActionContext& context, const ShortcutRecord& record) {
    Os& os = context.os;
    const int mode = ShortcutExpandMode(context.state);
    Os::HandlePtr link = os.CreateShellLink();

    ShellLinkData data;
    data.target = Expanded(context, record.targetPath, mode);
    data.workingDir = ParentFolder(os.Mbcs(), data.target);
    data.description = record.name;
    data.iconPath = Expanded(context, record.iconPath, mode);
    data.iconIndex = record.iconIndex;

    const std::string fileName = record.name + ".lnk";
    const std::string folder = Expanded(context, record.linkFolder, mode);
    const std::string linkPath = folder + "\\" + fileName;
    // Whichever place the record uses, a link of the same name in the other
    // place would show the package twice; the link of this place is only
    // ever replaced by saving over it, so a failure keeps the old one.
    const std::string other =
        Expanded(context, record.linkFolder, mode == kExpandAllUsers ? kExpandCurrentUser : kExpandAllUsers) + "\\" +
        fileName;
    if (!os.Mbcs().SameText(other, linkPath)) os.DeleteFile(other);
    if (!link) {
        LogFailure("making a shell link object", linkPath, os.LastError());
        return false;
    }

    // The link's path travels in a MAX_PATH wide buffer; a path cut to fit
    // would save the link under another name.
    if (linkPath.size() >= kMaxPath) {
        LogFailure("saving the shortcut", linkPath, 0, "path of 260 characters or more");
        return false;
    }
    if (!FindFolderMatch(os, folder)) {
        // A folder that is there but could not be looked at is not ours to log.
        if (!ProvenAbsent(os) || !CreateFolderPath(os, folder)) {
            LogFailure("creating the shortcut's folder", folder, os.LastError());
            return false;
        }
        context.log.AddFile(folder + "\\");
    }
    if (!os.SaveShellLink(*link, data, linkPath)) {
        LogFailure("saving the shortcut", linkPath, os.LastError());
        return false;
    }
    context.log.AddFile(linkPath);
    LogLine("shortcut " + linkPath + " -> " + data.target);
    return true;
}

}  // namespace cabsetup
