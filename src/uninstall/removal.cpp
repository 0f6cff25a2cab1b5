#include "uninstall/removal.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "app/startup.h"
#include "platform/path_text.h"

namespace cabsetup {

namespace {

std::size_t Depth(const CodePage& cp, const std::string& path) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < path.size(); i += cp.CharLength(path, i))
        if (path[i] == '\\' && cp.CharLength(path, i) == 1) ++n;
    return n;
}

class Remover {
public:
    Remover(Os& os, const std::string& target) : os_(os), cp_(os.Mbcs()), target_(NormalizePath(cp_, target)) {
        if (!target_.empty()) target_ = LongForm(os_, target_);
    }

    void File(const RemovalStep& step) {
        FindData info;
        if (!os_.FileInfo(step.path, info) || (info.attributes & kAttrDirectory)) return;
        if (Inside(step.path) && PassesThroughALink(os_, step.path, target_)) return Refuse(step);
        if (info.attributes & kAttrReadOnly) os_.SetAttributes(step.path, info.attributes & ~kAttrReadOnly);
        if (os_.DeleteFile(step.path)) {
            ++out_.removed;
            Emptied(step.path);
        } else if (os_.DeleteAtRestart(step.path)) {
            ++out_.scheduled;
        } else {
            ++out_.failed;
        }
    }

    void Registry(const RemovalStep& step) {
        Os::HandlePtr key = os_.RegOpenKey(step.root, step.subkey, kKeyAllAccess);
        if (!key) return;
        if (step.kind == RemovalKind::Value) {
            if (os_.RegDeleteValue(*key, step.value)) ++out_.removed;
            return;
        }
        os_.RegDeleteValue(*key, std::string());  // the key's default value
        bool empty = os_.RegKeyIsEmpty(*key);
        key.reset();
        if (empty && os_.RegDeleteKey(step.root, step.subkey)) ++out_.removed;
    }

    void LoggedFolder(const RemovalStep& step) { folders_.push_back(step.path); }

    // The logged folders and the emptied ones, deepest first: a folder goes
    // only when nothing is left in it, and its parent may then be empty too.
    void Folders() {
        std::multimap<std::size_t, std::string, std::greater<>> queue;
        for (const std::string& f : folders_) queue.emplace(Depth(cp_, f), f);
        std::set<std::string> done;
        while (!queue.empty() || !emptied_.empty()) {
            for (const std::string& f : emptied_) queue.emplace(Depth(cp_, f), f);
            emptied_.clear();
            std::string folder = queue.begin()->second;
            queue.erase(queue.begin());
            std::string lower = folder;
            cp_.ToLower(lower);
            if (!done.insert(lower).second) continue;
            if (Inside(folder) && PassesThroughALink(os_, folder, target_)) {
                out_.refused.push_back(folder);
                continue;
            }
            if (os_.RemoveDirectory(folder)) {
                ++out_.removed;
                Emptied(folder);
            }
        }
    }

    RemovalOutcome& Outcome() { return out_; }

private:
    bool Inside(const std::string& path) const { return !target_.empty() && IsInsideFolder(cp_, path, target_); }

    void Refuse(const RemovalStep& step) { out_.refused.push_back(step.path); }

    // The folder that held a removed entry may now be empty because of
    // this removal; no other folder is. Never above the target.
    void Emptied(const std::string& removed) {
        if (!Inside(removed)) return;
        std::string folder = ParentFolder(cp_, removed);
        if (!folder.empty() && Inside(folder)) emptied_.push_back(folder);
    }

    Os& os_;
    const CodePage& cp_;
    std::string target_;
    std::vector<std::string> folders_, emptied_;
    RemovalOutcome out_;
};

}  // namespace

RemovalOutcome CarryOut(Os& os, const RemovalPlan& plan, const std::string& target) {
    Remover remover(os, target);
    for (const RemovalStep& step : plan.steps) {
        if (step.registration) continue;
        switch (step.kind) {
        case RemovalKind::File: remover.File(step); break;
        case RemovalKind::Folder: remover.LoggedFolder(step); break;
        case RemovalKind::Value:
        case RemovalKind::Key: remover.Registry(step); break;
        }
    }
    remover.Folders();
    return std::move(remover.Outcome());
}

void RemoveRegistration(Os& os, const RemovalPlan& plan, RemovalOutcome& outcome) {
    const CodePage& cp = os.Mbcs();
    auto lower = [&](std::string s) {
        cp.ToLower(s);
        return s;
    };
    // Found by these, a half-removed registration could no longer be removed again.
    auto last = [&](const RemovalStep& s) {
        std::string v = lower(s.value);
        return v == "uninstallstring" || v == "installedpath";
    };
    std::vector<const RemovalStep*> values, keys;
    std::set<std::string> registrationKeys;
    for (const RemovalStep& s : plan.steps) {
        if (!s.registration) continue;
        (s.kind == RemovalKind::Key ? keys : values).push_back(&s);
        // The registration's own key: the part of the subkey that names it.
        std::size_t name = sizeof kUninstallRoot, end = cp.FindChar(std::string_view(s.subkey).substr(name), '\\');
        registrationKeys.insert(end == std::string::npos ? s.subkey : s.subkey.substr(0, name + end));
    }
    std::stable_partition(values.begin(), values.end(), [&](const RemovalStep* s) { return !last(*s); });

    Remover remover(os, std::string());
    for (const RemovalStep* s : values) remover.Registry(*s);
    // The digest is never in the log it digests.
    for (const std::string& own : registrationKeys) {
        RemovalStep digest;
        digest.kind = RemovalKind::Value;
        digest.root = RegRoot::LocalMachine;
        digest.subkey = own;
        digest.value = kInstallLogDigestValue;
        remover.Registry(digest);
    }
    // Deepest keys first: a key goes only when nothing is left in it.
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const RemovalStep* a, const RemovalStep* b) { return a->subkey.size() > b->subkey.size(); });
    for (const RemovalStep* s : keys) remover.Registry(*s);
    outcome.removed += remover.Outcome().removed;
}

}  // namespace cabsetup
