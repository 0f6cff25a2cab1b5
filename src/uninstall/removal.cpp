#include "uninstall/removal.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "app/startup.h"
#include "platform/path_text.h"

namespace cabsetup {

namespace {

constexpr std::uint32_t kErrorDirNotEmpty = 145;

std::size_t Depth(const CodePage& cp, const std::string& path) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < path.size(); i += cp.CharLength(path, i))
        if (path[i] == '\\' && cp.CharLength(path, i) == 1) ++n;
    return n;
}

class Remover {
public:
    Remover(Os& os, const std::string& target) : os_(os), cp_(os.Mbcs()), target_(NormalizePath(cp_, target)) {
        if (!target_.empty() && !LongForm(os_, target_, target_)) ++out_.failed;
    }

    void File(const RemovalStep& step) {
        FindData info;
        if (!os_.FileInfo(step.path, info)) {
            // Gone already (an earlier run took it): its folder may be empty now.
            if (ProvenAbsent(os_)) Emptied(step.path);
            else ++out_.failed;
            return;
        }
        if (info.attributes & kAttrDirectory) return;
        if (!LinksChecked(step.path)) return;
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

    // A value, or a key's default value and then the key when nothing is
    // left in it. A lookup or deletion that failed for another reason than
    // absence is a failure; a key others still use stays.
    void Registry(const RemovalStep& step) {
        Os::HandlePtr key = os_.RegOpenKey(step.root, step.subkey, kKeyAllAccess);
        if (!key) {
            if (!ProvenAbsent(os_)) ++out_.failed;
            return;
        }
        if (step.kind == RemovalKind::Value) {
            if (os_.RegDeleteValue(*key, step.value)) ++out_.removed;
            else if (!ProvenAbsent(os_)) ++out_.failed;
            return;
        }
        if (!os_.RegDeleteValue(*key, std::string()) && !ProvenAbsent(os_)) ++out_.failed;
        bool empty = os_.RegKeyIsEmpty(*key);
        if (!empty && os_.LastError() != 0) ++out_.failed;  // not asked, rather than not empty
        key.reset();
        if (!empty) return;
        if (os_.RegDeleteKey(step.root, step.subkey)) ++out_.removed;
        else if (!ProvenAbsent(os_)) ++out_.failed;
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
            if (!done.insert(cp_.Lowered(folder)).second) continue;
            if (!LinksChecked(folder)) continue;
            if (os_.RemoveDirectory(folder)) {
                ++out_.removed;
                Emptied(folder);
            } else if (ProvenAbsent(os_)) {
                Emptied(folder);
            } else if (os_.LastError() != kErrorDirNotEmpty) {
                ++out_.failed;  // empty, or not known to hold anything, and still there
            }
        }
    }

    RemovalOutcome& Outcome() { return out_; }

private:
    bool Inside(const std::string& path) const { return !target_.empty() && IsInsideFolder(cp_, path, target_); }

    // Whether the path may be acted on: not through a link, found when
    // acting; a link made after the plan was read is refused too.
    bool LinksChecked(const std::string& path) {
        if (!Inside(path)) return true;
        switch (LinkOnTheWay(os_, path, target_)) {
        case LinkCheck::None: return true;
        case LinkCheck::Link: break;
        case LinkCheck::Unknown: ++out_.failed; break;
        }
        out_.refused.push_back(path);
        return false;
    }

    // The folder that held a logged entry now gone may be empty because of
    // this removal (or an earlier run of it); no other folder is. Never above the target.
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

bool RemoveRegistration(Os& os, const RemovalPlan& plan, RemovalOutcome& outcome) {
    const CodePage& cp = os.Mbcs();
    auto lower = [&](const std::string& s) { return cp.Lowered(s); };
    // Listed by the system and found by a later run through these, a
    // half-removed registration can still be removed: they go last, after
    // the digest, the command that starts the uninstaller last of all.
    auto rank = [&](const RemovalStep& s) {
        std::string v = lower(s.value);
        return v == "uninstallstring" ? 3 : v == "displayname" ? 2 : v == "installedpath" ? 1 : 0;
    };
    auto findsIt = [&](const RemovalStep& s) { return rank(s) > 0; };
    std::vector<const RemovalStep*> values, keys;
    std::map<std::string, std::string> registrationKeys;  // lower-cased -> as logged
    for (const RemovalStep& s : plan.steps) {
        if (!s.registration) continue;
        (s.kind == RemovalKind::Key ? keys : values).push_back(&s);
        // The registration's own key: the part of the subkey that names it.
        std::size_t name = sizeof kUninstallRoot, end = cp.FindChar(std::string_view(s.subkey).substr(name), '\\');
        std::string own = end == std::string::npos ? s.subkey : s.subkey.substr(0, name + end);
        registrationKeys.emplace(lower(own), own);
    }
    std::stable_sort(values.begin(), values.end(), [&](const RemovalStep* a, const RemovalStep* b) { return rank(*a) < rank(*b); });
    const auto last = std::find_if(values.begin(), values.end(), [&](const RemovalStep* s) { return findsIt(*s); });

    // The digest is never in the log it digests.
    std::vector<RemovalStep> digests;
    for (const auto& [unused, own] : registrationKeys) {
        RemovalStep digest;
        digest.kind = RemovalKind::Value;
        digest.root = RegRoot::LocalMachine;
        digest.subkey = own;
        digest.value = kInstallLogDigestValue;
        digests.push_back(digest);
    }
    // Deepest keys first: a key goes only when nothing is left in it.
    std::stable_sort(keys.begin(), keys.end(),
                     [&](const RemovalStep* a, const RemovalStep* b) { return a->subkey.size() > b->subkey.size(); });
    std::vector<const RemovalStep*> order(values.begin(), last);
    for (const RemovalStep& d : digests) order.push_back(&d);
    order.insert(order.end(), last, values.end());
    order.insert(order.end(), keys.begin(), keys.end());

    // At the first failure the rest stays, so a later run still finds it.
    Remover remover(os, std::string());
    for (const RemovalStep* s : order) {
        remover.Registry(*s);
        if (remover.Outcome().failed) break;
    }
    outcome.removed += remover.Outcome().removed;
    outcome.failed += remover.Outcome().failed;
    return remover.Outcome().failed == 0;
}

}  // namespace cabsetup
