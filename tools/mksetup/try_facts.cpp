#include "try_facts.h"

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace mksetup::trying {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        switch (field[++i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: out += field[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::vector<std::string>> ParseFacts(const std::string& text) {
    std::vector<std::vector<std::string>> facts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        if (line.empty()) continue;
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(Unescape(line.substr(from, tab - from)));
        fields.push_back(Unescape(line.substr(from)));
        facts.push_back(std::move(fields));
    }
    return facts;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool InsideFolder(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    std::string p = Lower(path), f = Lower(folder);
    std::replace(p.begin(), p.end(), '/', '\\');
    std::replace(f.begin(), f.end(), '/', '\\');
    while (!f.empty() && f.back() == '\\') f.pop_back();
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '\\');
}

void AddFiles(Snapshot& s, const fs::path& driveRoot, const std::string& drive, const std::set<std::string>& skip) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(driveRoot, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string relative = it->path().lexically_relative(driveRoot).string();
        std::replace(relative.begin(), relative.end(), '/', '\\');
        FileEntry e;
        e.path = drive + "\\" + relative;
        std::string key = Lower(e.path);
        std::error_code fileError;
        if (it->is_symlink(fileError)) {
            // Wine's links to the Linux home (Desktop, Documents) lead out of the prefix.
            it.disable_recursion_pending();
            continue;
        }
        if (skip.count(key)) {
            it.disable_recursion_pending();
            continue;
        }
        e.folder = it->is_directory(fileError);
        if (!e.folder) e.size = static_cast<long long>(it->file_size(fileError));
        s.files[key] = e;
    }
}

// What Wine rewrites at every start of a program: never a package's.
bool WinesOwn(const std::string& lowerKey) {
    return lowerKey.find("\\windows nt\\currentversion\\networkcards") != std::string::npos;
}

void AddRegistry(Snapshot& s, const std::vector<std::vector<std::string>>& facts) {
    for (const auto& f : facts) {
        if (f.size() >= 2 && WinesOwn(Lower(f[1]))) continue;
        if (f.size() >= 2 && f[0] == "key") {
            s.keys.insert(Lower(f[1]));
            s.keyNames[Lower(f[1])] = f[1];
        } else if (f.size() >= 5 && f[0] == "value") {
            s.values[Lower(f[1]) + "\\" + Lower(f[2])] = ValueEntry{f[1], f[2], f[3], f[4]};
        }
    }
}

Changes Added(const Snapshot& before, const Snapshot& after) {
    Changes c;
    for (const auto& [key, entry] : after.files) {
        auto was = before.files.find(key);
        if (was == before.files.end() || (!entry.folder && was->second.size != entry.size)) c.files.push_back(entry);
    }
    for (const std::string& key : after.keys)
        if (!before.keys.count(key)) c.keys.push_back(after.keyNames.at(key));
    for (const auto& [key, value] : after.values) {
        auto was = before.values.find(key);
        if (was == before.values.end() || was->second.data != value.data || was->second.type != value.type)
            c.values.push_back(value);
    }
    return c;
}

InstallRecord RecordOf(const Changes& installed, const std::string& flist) {
    InstallRecord r;
    const std::string uninstall = "\\software\\microsoft\\windows\\currentversion\\uninstall\\";
    for (const ValueEntry& v : installed.values) {
        std::string key = Lower(v.key);
        std::size_t at = key.find(uninstall);
        if (at == std::string::npos || key.find('\\', at + uninstall.size()) != std::string::npos) continue;
        if (SameTextIgnoringCase(v.name, "UninstallString") || SameTextIgnoringCase(v.name, "InstalledPath")) {
            r.uninstallKey = v.key;
            if (SameTextIgnoringCase(v.name, "InstalledPath")) r.target = v.data;
        }
    }
    std::size_t start = 0;
    while (start < flist.size()) {
        std::size_t end = flist.find('\n', start);
        if (end == std::string::npos) end = flist.size();
        std::string line = flist.substr(start, end - start);
        start = end + 1;
        if (line.size() > 8 && (line.compare(0, 8, "FILE    ") == 0 || line.compare(0, 8, "REGE    ") == 0))
            r.logLines.push_back(line);
    }
    return r;
}

bool InstallRecord::Covers(const std::string& path, bool registry) const {
    if (registry ? !uninstallKey.empty() && InsideFolder(path, uninstallKey) : InsideFolder(path, target)) return true;
    std::string wanted = Lower(path);
    while (!wanted.empty() && wanted.back() == '\\') wanted.pop_back();
    for (const std::string& line : logLines) {
        if ((line.compare(0, 4, "REGE") == 0) != registry) continue;
        std::string logged = Lower(line.substr(8));
        while (!logged.empty() && logged.back() == '\\') logged.pop_back();
        if (logged == wanted) return true;
    }
    return false;
}

std::vector<Leftover> LeftoversOf(const Changes& left, const Changes& installed, const InstallRecord& record) {
    std::set<std::string> byInstall;
    for (const FileEntry& f : installed.files) byInstall.insert("file:" + Lower(f.path));
    for (const std::string& k : installed.keys) byInstall.insert("key:" + Lower(k));
    for (const ValueEntry& v : installed.values) byInstall.insert("value:" + Lower(v.key + "\\" + v.name));
    std::vector<Leftover> out;
    for (const FileEntry& f : left.files)
        out.push_back({f.folder ? "folder" : "file", f.path, byInstall.count("file:" + Lower(f.path)) && record.Covers(f.path, false)});
    for (const std::string& k : left.keys) out.push_back({"key", k, byInstall.count("key:" + Lower(k)) && record.Covers(k, true)});
    for (const ValueEntry& v : left.values) {
        const std::string path = v.key + "\\" + v.name;
        out.push_back({"value", path, byInstall.count("value:" + Lower(path)) && record.Covers(path, true)});
    }
    return out;
}

}  // namespace mksetup::trying
