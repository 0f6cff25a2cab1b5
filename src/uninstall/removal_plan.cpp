#include "uninstall/removal_plan.h"

#include <algorithm>
#include <set>

#include "platform/path_text.h"

namespace cabsetup {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The parts of a path between its single-byte separators ("\" or "/").
std::vector<std::string> Parts(const CodePage& cp, std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size();) {
        if (i == path.size() || (IsSeparator(path[i]) && cp.CharLength(path, i) == 1)) {
            parts.emplace_back(path.substr(start, i - start));
            start = ++i;
        } else {
            i += cp.CharLength(path, i);
        }
    }
    return parts;
}

// The text without its trailing single-byte characters among `chars`; the
// trail byte of a double-byte character is part of that character.
std::string TrimEnd(const CodePage& cp, const std::string& text, std::string_view chars) {
    std::size_t keep = 0;
    for (std::size_t i = 0; i < text.size(); i += cp.CharLength(text, i))
        if (cp.CharLength(text, i) != 1 || chars.find(text[i]) == std::string_view::npos) keep = i + cp.CharLength(text, i);
    return text.substr(0, keep);
}

// A name the system takes for a device in any folder: CON, NUL.txt, "COM1 .log".
bool IsDeviceName(const CodePage& cp, const std::string& part) {
    std::size_t dot = cp.FindChar(part, '.');
    std::string base = cp.Lowered(TrimEnd(cp, part.substr(0, dot), " "));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
    for (const char* d : kDevices)
        if (base == d) return true;
    if (base.size() != 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) return false;
    // COM0-9 and LPT0-9, and the superscript digits the system also accepts (1252's bytes).
    auto last = static_cast<unsigned char>(base[3]);
    return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

// Whether the single-byte characters of a part can name an ordinary file.
PathVerdict CheckCharacters(const CodePage& cp, const std::string& part) {
    for (std::size_t i = 0; i < part.size(); i += cp.CharLength(part, i)) {
        if (cp.CharLength(part, i) != 1) continue;
        auto c = static_cast<unsigned char>(part[i]);
        if (c == ':') return PathVerdict::Stream;
        if (c < 0x20 || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') return PathVerdict::BadName;
    }
    return PathVerdict::Plain;
}

bool IsShortcut(const CodePage& cp, const std::string& path) {
    return path.size() > 4 && cp.SameText(path.substr(path.size() - 4), ".lnk");
}

bool HasPlaceholder(std::string_view text) {
    std::size_t open = text.find('<');
    return open != std::string_view::npos && text.find('>', open) != std::string_view::npos;
}

// The parts of a canonical path (a drive's root has one: "X:").
std::vector<std::string> CanonicalParts(const CodePage& cp, const std::string& canonical) {
    std::vector<std::string> parts = Parts(cp, canonical);
    if (!parts.empty() && parts.back().empty()) parts.pop_back();
    return parts;
}

}  // namespace

PathVerdict CanonicalPath(const CodePage& cp, std::string_view path, std::string& out) {
    out.clear();
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\?\, \\.\ and //?/ reach the system's own namespaces; the rest is a network share.
        return path.size() >= 4 && (path[2] == '?' || path[2] == '.') && IsSeparator(path[3]) ? PathVerdict::SystemPrefix
                                                                                                : PathVerdict::NetworkPath;
    }
    if (path.size() >= 4 && IsSeparator(path[0]) && path[1] == '?' && path[2] == '?' && IsSeparator(path[3]))
        return PathVerdict::SystemPrefix;
    const auto drive = static_cast<unsigned char>(path.empty() ? 0 : path[0]);
    if (path.size() < 3 || !((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) || path[1] != ':' ||
        !IsSeparator(path[2]))
        return PathVerdict::NotAFullPath;

    std::vector<std::string> kept;
    std::vector<std::string> parts = Parts(cp, path.substr(3));
    for (std::string& part : parts) {
        if (PathVerdict v = CheckCharacters(cp, part); v != PathVerdict::Plain) return v;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (kept.empty()) return PathVerdict::NotAFullPath;
            kept.pop_back();
            continue;
        }
        // The system drops a part's trailing dots and spaces ("Tool. " opens "Tool").
        part = TrimEnd(cp, part, ". ");
        if (part.empty()) return PathVerdict::BadName;
        if (IsDeviceName(cp, part)) return PathVerdict::DeviceName;
        kept.push_back(std::move(part));
    }
    out = std::string(path.substr(0, 2)) + "\\";
    for (std::size_t i = 0; i < kept.size(); ++i) out += (i ? "\\" : "") + kept[i];
    return PathVerdict::Plain;
}

std::string NormalizePath(const CodePage& cp, std::string_view path) {
    std::string out;
    return CanonicalPath(cp, path, out) == PathVerdict::Plain ? out : std::string();
}

bool IsInsideFolder(const CodePage& cp, const std::string& path, const std::string& folder) {
    std::string p = NormalizePath(cp, path), f = NormalizePath(cp, folder);
    if (p.empty() || f.empty()) return false;
    std::vector<std::string> pp = CanonicalParts(cp, p), fp = CanonicalParts(cp, f);
    if (pp.size() < fp.size()) return false;
    for (std::size_t i = 0; i < fp.size(); ++i)
        if (!cp.SameText(pp[i], fp[i])) return false;
    return true;
}

bool LongForm(Os& os, const std::string& canonical, std::string& out) {
    const CodePage& cp = os.Mbcs();
    out = canonical;
    std::vector<std::string> parts = CanonicalParts(cp, canonical);
    // From the whole path down to its drive: the first that exists answers.
    for (std::size_t n = parts.size(); n >= 2; --n) {
        std::string head = parts[0];
        for (std::size_t i = 1; i < n; ++i) head += "\\" + parts[i];
        std::string longHead = os.LongPathName(head);
        if (longHead.empty()) {
            if (!ProvenAbsent(os)) return false;
            continue;
        }
        for (std::size_t i = n; i < parts.size(); ++i) longHead += "\\" + parts[i];
        out = NormalizePath(cp, longHead);
        return true;
    }
    return true;
}

LinkCheck LinkOnTheWay(Os& os, const std::string& path, const std::string& target) {
    const CodePage& cp = os.Mbcs();
    if (!IsInsideFolder(cp, path, target)) return LinkCheck::None;
    const std::size_t top = CanonicalParts(cp, NormalizePath(cp, target)).size();
    std::vector<std::string> parts = CanonicalParts(cp, NormalizePath(cp, path));
    std::string folder = parts[0];
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) {
        folder += "\\" + parts[i];
        if (i + 1 <= top) continue;  // the target and its parents
        FindData info;
        if (os.FileInfo(folder, info)) {
            if (info.attributes & kAttrReparsePoint) return LinkCheck::Link;
        } else {
            // A folder that is not there leads nowhere, nor does anything in it.
            return ProvenAbsent(os) ? LinkCheck::None : LinkCheck::Unknown;
        }
    }
    return LinkCheck::None;
}

const char* SkipReasonText(SkipReason reason) {
    switch (reason) {
    case SkipReason::NotARecord: return "not a record of a file or registry entry";
    case SkipReason::UntrustedPath: return "a path whose meaning cannot be proven";
    case SkipReason::OutsideTarget: return "a file outside the installation's folder";
    case SkipReason::AboveTarget: return "the installation's folder's parent or a drive";
    case SkipReason::NotAShortcutFolder: return "a folder outside the installation's folder that holds no logged shortcut";
    case SkipReason::ThroughLink: return "reached through a link or junction";
    case SkipReason::KeptToTheEnd: return "the uninstaller or its log: removed once everything else has gone";
    case SkipReason::NotChecked: return "a lookup its proof needs failed";
    case SkipReason::RegistryOutsideRoots: return "a registry entry outside the roots the uninstaller may change";
    case SkipReason::OtherRegistration: return "another program's registration";
    case SkipReason::Repeated: return "repeated";
    }
    return "";
}

namespace {

class Planner {
public:
    Planner(Os& os, const PlanInputs& in) : os_(os), cp_(os.Mbcs()) {
        target_ = NormalizePath(cp_, in.target);
        if (!target_.empty() && !LongForm(os_, target_, target_)) ++plan_.unchecked;
        for (const std::string& k : in.keep) {
            std::string c = NormalizePath(cp_, k);
            if (c.empty()) continue;
            keep_.insert(cp_.Lowered(c));
            if (!LongForm(os_, c, c)) ++plan_.unchecked;
            keep_.insert(cp_.Lowered(c));
        }
        for (const std::string& r : in.registrations) registrations_.insert(cp_.Lowered(r));
    }

    void Line(std::string_view line) {
        static constexpr std::string_view kFile = "FILE    ", kRegistry = "REGE    ";
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool file = line.substr(0, kFile.size()) == kFile, registry = line.substr(0, kRegistry.size()) == kRegistry;
        std::string_view rest = file || registry ? line.substr(kFile.size()) : std::string_view();
        if (line.empty() || line.substr(0, 2) == "//") return;  // the header and empty lines say nothing
        if (rest.empty() || HasPlaceholder(rest)) return Skip(line, SkipReason::NotARecord);
        if (file) return FileLine(line, rest);
        RegistryLine(line, rest);
    }

    // Folders outside the target are decided once every shortcut is known.
    RemovalPlan Finish() {
        for (auto& [line, step] : outsideFolders_) {
            bool holdsShortcut = false;
            for (const std::string& f : shortcutFolders_) holdsShortcut = holdsShortcut || cp_.SameText(f, step.path);
            if (holdsShortcut) Add(line, std::move(step));
            else Skip(line, SkipReason::NotAShortcutFolder);
        }
        outsideFolders_.clear();
        return std::move(plan_);
    }

private:
    void Skip(std::string_view line, SkipReason reason, PathVerdict verdict = PathVerdict::Plain) {
        plan_.skipped.push_back({std::string(line), reason, verdict});
    }

    void Add(std::string_view line, RemovalStep step) {
        std::string identity = std::to_string(static_cast<int>(step.kind)) + "|" + step.path + "|" +
                               std::to_string(static_cast<int>(step.root)) + "|" + step.subkey + "|" + step.value;
        if (!seen_.insert(cp_.Lowered(identity)).second) return Skip(line, SkipReason::Repeated);
        plan_.steps.push_back(std::move(step));
    }

    enum class Answer { Yes, No, Unknown };
    Answer EmptyKey(const RemovalStep& step) {
        constexpr std::uint32_t kKeyRead = 0x20019;
        Os::HandlePtr key = os_.RegOpenKey(step.root, step.subkey, kKeyRead);
        if (!key) return ProvenAbsent(os_) ? Answer::No : Answer::Unknown;
        if (os_.RegKeyIsEmpty(*key)) return Answer::Yes;
        return os_.LastError() == 0 ? Answer::No : Answer::Unknown;
    }

    // False, with the line skipped, when the path leads through a link or
    // could not be looked at.
    bool CheckLinks(std::string_view line, const std::string& path) {
        switch (LinkOnTheWay(os_, path, target_)) {
        case LinkCheck::None: return true;
        case LinkCheck::Link: Skip(line, SkipReason::ThroughLink); return false;
        case LinkCheck::Unknown: break;
        }
        ++plan_.unchecked;
        Skip(line, SkipReason::NotChecked);
        return false;
    }

    void FileLine(std::string_view line, std::string_view rest) {
        RemovalStep step;
        step.kind = IsSeparator(rest.back()) ? RemovalKind::Folder : RemovalKind::File;
        std::string canonical;
        PathVerdict verdict = CanonicalPath(cp_, rest, canonical);
        if (verdict != PathVerdict::Plain) return Skip(line, SkipReason::UntrustedPath, verdict);
        if (!LongForm(os_, canonical, canonical)) {
            ++plan_.unchecked;
            return Skip(line, SkipReason::NotChecked);
        }
        if (canonical.empty()) return Skip(line, SkipReason::UntrustedPath, PathVerdict::BadName);
        step.path = canonical;
        if (keep_.count(cp_.Lowered(canonical))) return Skip(line, SkipReason::KeptToTheEnd);

        const bool inside = !target_.empty() && IsInsideFolder(cp_, canonical, target_);
        const bool isTarget = inside && IsInsideFolder(cp_, target_, canonical);
        if (step.kind == RemovalKind::File) {
            if (inside && !isTarget) {
                if (!CheckLinks(line, canonical)) return;
                return Add(line, std::move(step));
            }
            if (!inside && IsShortcut(cp_, canonical)) {
                shortcutFolders_.push_back(ParentFolder(cp_, canonical));
                return Add(line, std::move(step));
            }
            return Skip(line, isTarget ? SkipReason::AboveTarget : SkipReason::OutsideTarget);
        }
        if (inside) {
            if (!CheckLinks(line, canonical)) return;
            return Add(line, std::move(step));
        }
        if (CanonicalParts(cp_, canonical).size() < 2 || (!target_.empty() && IsInsideFolder(cp_, target_, canonical)))
            return Skip(line, SkipReason::AboveTarget);
        outsideFolders_.emplace_back(std::string(line), std::move(step));
    }

    void RegistryLine(std::string_view line, std::string_view rest) {
        RemovalStep step;
        std::size_t last = cp_.FindLastChar(rest, '\\');
        if (last == std::string_view::npos) return Skip(line, SkipReason::NotARecord);
        step.value = std::string(rest.substr(last + 1));
        std::vector<std::string> parts;
        std::string_view key = rest.substr(0, last);
        for (std::size_t start = 0;;) {
            std::size_t end = cp_.FindChar(key.substr(start), '\\');
            parts.emplace_back(key.substr(start, end == std::string_view::npos ? std::string_view::npos : end));
            if (end == std::string_view::npos) break;
            start += end + 1;
        }
        // A key path is names between single backslashes: the registry knows
        // no "." or "..", but no package needs them either.
        for (const std::string& p : parts)
            if (p.empty() || p == "." || p == "..") return Skip(line, SkipReason::RegistryOutsideRoots);
        const std::string root = cp_.Lowered(parts[0]);
        std::vector<std::string> below(parts.begin() + 1, parts.end());
        if (root == "hkey_classes_root" && !below.empty()) {
            step.root = RegRoot::ClassesRoot;
        } else if ((root == "hkey_local_machine" || root == "hkey_current_user") && below.size() >= 2 &&
                   cp_.Lowered(below[0]) == "software") {
            step.root = root == "hkey_local_machine" ? RegRoot::LocalMachine : RegRoot::CurrentUser;
        } else {
            return Skip(line, SkipReason::RegistryOutsideRoots);
        }
        for (std::size_t i = 0; i < below.size(); ++i) step.subkey += (i ? "\\" : "") + below[i];

        // Registrations: only the package's own, found in the registry, never
        // another program's nor the Uninstall key itself.
        const std::vector<std::string> uninstall = Parts(cp_, kUninstallRoot);
        bool underUninstall = step.root != RegRoot::ClassesRoot && below.size() >= uninstall.size();
        for (std::size_t i = 0; underUninstall && i < uninstall.size(); ++i)
            underUninstall = cp_.SameText(below[i], uninstall[i]);
        step.kind = step.value.empty() ? RemovalKind::Key : RemovalKind::Value;
        if (underUninstall) {
            const bool named = step.root == RegRoot::LocalMachine && below.size() > uninstall.size();
            if (!named) return Skip(line, SkipReason::OtherRegistration);
            step.registration = true;
            if (!registrations_.count(cp_.Lowered(below[uninstall.size()]))) {
                // A key left empty (a removal that stopped just before it) is
                // nobody's registration: the log may name it away.
                if (step.kind != RemovalKind::Key || below.size() != uninstall.size() + 1)
                    return Skip(line, SkipReason::OtherRegistration);
                switch (EmptyKey(step)) {
                case Answer::Yes: break;
                case Answer::No: return Skip(line, SkipReason::OtherRegistration);
                case Answer::Unknown: ++plan_.unchecked; return Skip(line, SkipReason::NotChecked);
                }
            }
        }
        Add(line, std::move(step));
    }

    Os& os_;
    const CodePage& cp_;
    std::string target_;
    std::set<std::string> keep_, registrations_, seen_;
    std::vector<std::string> shortcutFolders_;
    std::vector<std::pair<std::string, RemovalStep>> outsideFolders_;
    RemovalPlan plan_;
};

}  // namespace

RemovalPlan PlanRemoval(Os& os, std::string_view log, const PlanInputs& inputs) {
    Planner planner(os, inputs);
    for (std::size_t start = 0; start < log.size();) {
        std::size_t end = log.find('\n', start);
        if (end == std::string_view::npos) end = log.size();
        planner.Line(log.substr(start, end - start));
        start = end + 1;
    }
    return planner.Finish();
}

}  // namespace cabsetup
