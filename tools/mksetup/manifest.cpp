#include "manifest.h"

#include <toml++/toml.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "formats/volume_format.h"
#include "text_encoding.h"

namespace mksetup {

namespace fs = std::filesystem;
using cabsetup::ScriptHalf;

namespace {

class Reader {
public:
    Reader(const fs::path& path, int codePage, std::vector<std::string>& errors)
        : file_(path.string()), codePage_(codePage), errors_(errors) {}

    void Error(const toml::node* at, const std::string& message) {
        int line = at ? static_cast<int>(at->source().begin.line) : 0;
        errors_.push_back(file_ + ":" + std::to_string(line) + ": " + message);
    }
    static int Line(const toml::node* at) { return at ? static_cast<int>(at->source().begin.line) : 0; }

    // Reports every key of `table` that is not in `allowed`.
    void CheckKeys(const toml::table& table, const std::string& where, std::initializer_list<const char*> allowed) {
        std::set<std::string> known(allowed.begin(), allowed.end());
        for (const auto& [key, value] : table)
            if (!known.count(std::string(key.str())))
                Error(&value, "unknown key '" + std::string(key.str()) + "' in " + where);
    }

    // A text field: converted to the package's code page and checked against
    // the bytes its field holds (one is the terminating zero).
    bool Text(const toml::table& t, const char* key, std::size_t field, std::string& out, bool required = false) {
        const toml::node* n = t.get(key);
        if (!n) {
            if (required) Error(&t, std::string("missing key '") + key + "'");
            return !required;
        }
        auto s = n->value<std::string>();
        if (!s) {
            Error(n, std::string("'") + key + "' must be a text");
            return false;
        }
        return Convert(n, key, *s, field, out);
    }

    bool Convert(const toml::node* n, const std::string& key, const std::string& utf8, std::size_t field,
                       std::string& out) {
        if (!Utf8ToCodePage(utf8, codePage_, out)) {
            Error(n, "'" + key + "' has characters that code page " + std::to_string(codePage_) + " cannot hold");
            return false;
        }
        if (out.size() >= field) {
            Error(n, "'" + key + "' is " + std::to_string(out.size()) + " bytes; its field holds at most " +
                         std::to_string(field - 1));
            return false;
        }
        return true;
    }

    // A destination must say where it lies: a placeholder or a drive first.
    bool FullPath(const toml::table& t, const char* key, const std::string& value, bool allowEmpty = false) {
        if (value.empty() && allowEmpty) return true;
        bool placeholder = value.size() > 2 && value[0] == '<' && value.find('>') != std::string::npos;
        bool drive = value.size() >= 3 && std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':' &&
                     value[2] == '\\';
        if (placeholder || drive) return true;
        Error(t.get(key) ? t.get(key) : &t, std::string("'") + key + "' must be a full path starting with a placeholder such as <TARGET_DIR> or a drive (C:\\...), not '" + value + "'");
        return false;
    }

    template <typename T>
    bool Integer(const toml::table& t, const char* key, T& out) {
        const toml::node* n = t.get(key);
        if (!n) return true;
        auto v = n->value<std::int64_t>();
        if (!v) {
            Error(n, std::string("'") + key + "' must be a whole number");
            return false;
        }
        out = static_cast<T>(*v);
        return true;
    }

    bool Boolean(const toml::table& t, const char* key, bool& out) {
        const toml::node* n = t.get(key);
        if (!n) return true;
        auto v = n->value<bool>();
        if (!v) {
            Error(n, std::string("'") + key + "' must be true or false");
            return false;
        }
        out = *v;
        return true;
    }

    // Each element of an array of tables.
    void Each(const toml::table& root, const char* key, const std::function<void(const toml::table&)>& f) {
        const toml::node* n = root.get(key);
        if (!n) return;
        const toml::array* a = n->as_array();
        if (!a) {
            Error(n, std::string("'") + key + "' must be an array of tables: [[" + key + "]]");
            return;
        }
        for (const toml::node& e : *a) {
            if (const toml::table* t = e.as_table()) f(*t);
            else Error(&e, std::string("each '") + key + "' must be a table");
        }
    }


private:
    std::string file_;
    int codePage_;
    std::vector<std::string>& errors_;
};

const std::pair<const char*, std::uint8_t> kReplaceModes[] = {
    {"always", cabsetup::ReplaceAlways},
    {"ifSizeDiffers", cabsetup::ReplaceIfSizeDiffers},
    {"keep", cabsetup::KeepExisting},
};

void ReadFiles(Reader& r, const toml::table& root, const fs::path& base, std::vector<PackageFile>& files) {
    r.Each(root, "file", [&](const toml::table& t) {
        r.CheckKeys(t, "[[file]]", {"source", "target", "replace"});
        PackageFile f;
        f.line = Reader::Line(&t);
        // A path of this machine, kept as it is (UTF-8).
        auto source = t["source"].value<std::string>();
        if (!source) {
            r.Error(&t, "[[file]] needs a 'source' text: the file to package");
            return;
        }
        f.source = base / fs::path(*source);
        if (!r.Text(t, "target", cabsetup::kPathField, f.target, true) || !r.FullPath(t, "target", f.target)) return;
        f.replaceMode = cabsetup::ReplaceIfSizeDiffers;
        if (const toml::node* n = t.get("replace")) {
            std::string mode = n->value_or(std::string());
            bool found = false;
            for (const auto& [name, value] : kReplaceModes)
                if (mode == name) f.replaceMode = value, found = true;
            if (!found) {
                r.Error(n, "bad replace mode '" + mode + "'; use always, ifSizeDiffers or keep");
                return;
            }
        }
        std::error_code ec;
        if (!fs::is_regular_file(f.source, ec)) {
            r.Error(&t, "source file '" + f.source.string() + "' does not exist");
            return;
        }
        files.push_back(std::move(f));
    });
}

// Registry, shortcut and program records of one script.
void ReadActions(Reader& r, const toml::table& root, ScriptHalf& script) {
    r.Each(root, "registry", [&](const toml::table& t) {
        r.CheckKeys(t, "[[registry]]", {"key", "name", "type", "value"});
        cabsetup::RegistryRecord rec;
        if (!r.Text(t, "key", cabsetup::kPathField, rec.keyPath, true) ||
            !r.Text(t, "name", cabsetup::kShortField, rec.valueName))
            return;
        static const char* const kRoots[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_CONFIG",
                                             "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_PERFORMANCE_DATA",
                                             "HKEY_DYN_DATA"};
        std::string rootName = rec.keyPath.substr(0, rec.keyPath.find('\\'));
        bool known = rec.keyPath.find('\\') != std::string::npos;
        bool rootKnown = false;
        for (const char* k : kRoots) rootKnown |= rootName == k;
        if (!known || !rootKnown) {
            r.Error(t.get("key"), "'key' must start with a root key name such as HKEY_LOCAL_MACHINE and a backslash");
            return;
        }
        std::string type = t["type"].value_or(std::string("text"));
        const toml::node* value = t.get("value");
        if (type == "number") {
            rec.valueType = 1;
            auto v = value ? value->value<std::int64_t>() : std::nullopt;
            if (!v || *v < 0 || *v > 0xFFFFFFFFLL) {
                r.Error(value ? value : &t, "a number value must be a whole number from 0 to 4294967295");
                return;
            }
            rec.SetNumber(static_cast<std::uint32_t>(*v));
        } else if (type == "text") {
            rec.valueType = 2;
            std::string text;
            if (!r.Text(t, "value", cabsetup::kPathField, text)) return;
            rec.SetText(text);
        } else {
            r.Error(t.get("type"), "bad registry type '" + type + "'; use text or number");
            return;
        }
        script.registry.push_back(rec);
    });
    r.Each(root, "shortcut", [&](const toml::table& t) {
        r.CheckKeys(t, "[[shortcut]]", {"name", "target", "folder", "icon", "iconIndex"});
        cabsetup::ShortcutRecord s;
        if (r.Text(t, "name", cabsetup::kShortField, s.name, true) &&
            r.Text(t, "target", cabsetup::kPathField, s.targetPath, true) && r.FullPath(t, "target", s.targetPath) &&
            r.Text(t, "folder", cabsetup::kPathField, s.linkFolder, true) && r.FullPath(t, "folder", s.linkFolder) &&
            r.Text(t, "icon", cabsetup::kPathField, s.iconPath) && r.FullPath(t, "icon", s.iconPath, true) &&
            r.Integer(t, "iconIndex", s.iconIndex))
            script.shortcuts.push_back(s);
    });
    r.Each(root, "program", [&](const toml::table& t) {
        r.CheckKeys(t, "[[program]]", {"path", "arguments", "show", "wait", "action"});
        cabsetup::ProgramRecord p;
        p.action = 2;
        p.showCommand = 1;  // SW_SHOWNORMAL
        bool wait = false;
        if (r.Text(t, "path", cabsetup::kPathField, p.programPath, true) && r.FullPath(t, "path", p.programPath) &&
            r.Text(t, "arguments", cabsetup::kShortField, p.arguments) && r.Integer(t, "show", p.showCommand) &&
            r.Boolean(t, "wait", wait) && r.Integer(t, "action", p.action)) {
            p.waitForExit = wait ? 1 : 0;
            script.programs.push_back(p);
        }
    });
}

void ReadPackage(Reader& r, const toml::table& t, const fs::path& base, Manifest& m) {
    r.CheckKeys(t, "[package]",
                {"setupKind", "companyName", "modelName", "modelVersion", "defaultTargetDir", "mainModuleSource",
                 "mainModuleTarget", "windowTitle", "displayName", "uninstallKey", "versionFromVolume",
                 "requiredVersion", "finishOptions", "license", "picture", "codePage", "uninstaller"});
    cabsetup::ScriptHeader& h = m.script.header;
    if (const toml::node* kind = t.get("setupKind")) {
        std::string name = kind->value_or(std::string());
        if (name == "full") h.setupKind = cabsetup::kSetupKindFull;
        else if (name == "update") h.setupKind = cabsetup::kSetupKindUpdate;
        else if (auto n = kind->value<std::int64_t>()) h.setupKind = static_cast<std::int32_t>(*n);
        else r.Error(kind, "setupKind must be full, update or a number");
    } else {
        h.setupKind = cabsetup::kSetupKindFull;
    }
    const std::pair<const char*, std::string cabsetup::ScriptHeader::*> texts[] = {
        {"companyName", &cabsetup::ScriptHeader::companyName},
        {"modelName", &cabsetup::ScriptHeader::modelName},
        {"modelVersion", &cabsetup::ScriptHeader::modelVersion},
        {"defaultTargetDir", &cabsetup::ScriptHeader::defaultTargetDir},
        {"mainModuleSource", &cabsetup::ScriptHeader::mainModuleSource},
        {"mainModuleTarget", &cabsetup::ScriptHeader::mainModuleTarget},
        {"windowTitle", &cabsetup::ScriptHeader::windowTitle},
        {"displayName", &cabsetup::ScriptHeader::displayName},
        {"uninstallKey", &cabsetup::ScriptHeader::uninstallKey},
        {"versionFromVolume", &cabsetup::ScriptHeader::versionFromVolume},
        {"requiredVersion", &cabsetup::ScriptHeader::requiredVersion},
        {"finishOptions", &cabsetup::ScriptHeader::finishOptions},
    };
    for (const auto& [key, member] : texts) r.Text(t, key, cabsetup::kPathField, h.*member);
    if (h.setupKind == cabsetup::kSetupKindFull) r.FullPath(t, "defaultTargetDir", h.defaultTargetDir);
    r.FullPath(t, "mainModuleSource", h.mainModuleSource, true);
    r.FullPath(t, "mainModuleTarget", h.mainModuleTarget, true);
    if (h.uninstallKey.empty()) r.Error(&t, "missing key 'uninstallKey': the package's name under the Uninstall key");
    r.Boolean(t, "uninstaller", m.uninstaller);
    for (const auto& [key, member] : {std::pair{"license", &Manifest::license}, std::pair{"picture", &Manifest::picture}}) {
        if (auto v = t[key].value<std::string>()) {
            m.*member = base / *v;
            std::error_code ec;
            if (!fs::is_regular_file(m.*member, ec))
                r.Error(t.get(key), std::string(key) + " file '" + (m.*member).string() + "' does not exist");
        }
    }
}

void ReadMedium(Reader& r, const toml::table& t, Medium& medium) {
    r.CheckKeys(t, "[medium]", {"volumeSize", "layout", "firstFolder", "compression", "level"});
    if (const toml::node* n = t.get("volumeSize")) {
        std::string text;
        if (auto i = n->value<std::int64_t>()) text = std::to_string(*i);
        else text = n->value_or(std::string());
        if (!ParseVolumeSize(text, medium.volumeSize))
            r.Error(n, "volumeSize must be none, a size such as 1.44MB or 650MB, or a number of bytes");
        else if (medium.volumeSize != 0 && medium.volumeSize < 4096)
            r.Error(n, "volumeSize must be at least 4096 bytes");
        else if (medium.volumeSize > 0xFFFFFFFFull)
            r.Error(n, "volumeSize must be below 4 GiB: a volume's length is a 32-bit field");
    }
    if (const toml::node* n = t.get("layout")) {
        std::string layout = n->value_or(std::string());
        if (layout == "flat") medium.layout = Layout::Flat;
        else if (layout == "folders") medium.layout = Layout::Folders;
        else r.Error(n, "layout must be flat (every volume in one folder) or folders (each further volume in a sibling folder)");
    }
    r.Text(t, "firstFolder", 256, medium.firstFolder);
    if (const toml::node* n = t.get("compression")) {
        std::string c = n->value_or(std::string());
        if (c == "mszip") medium.cabinet.compression = cabsetup::CabinetCompression::Mszip;
        else if (c == "none") medium.cabinet.compression = cabsetup::CabinetCompression::Stored;
        else r.Error(n, "compression must be mszip or none");
    }
    if (r.Integer(t, "level", medium.cabinet.level) && (medium.cabinet.level < 1 || medium.cabinet.level > 9))
        r.Error(t.get("level"), "level must be from 1 to 9");
}

// The line of the first character outside ASCII that stands neither in a
// quoted text nor in a comment; 0 when there is none. Such a manifest is not
// valid TOML anyway, and this TOML reader's character classes misbehave on it.
// Decodes the UTF-8 sequence at text[i]; its length, 0 when it is not UTF-8
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t DecodeUtf8(const std::string& text, std::size_t i, std::uint32_t& cp) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    cp = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < length; ++k) {
        unsigned char t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

// The line of the first byte sequence that is not UTF-8; 0 when there is none.
int InvalidUtf8Line(const std::string& text) {
    int line = 1;
    for (std::size_t i = 0, n; i < text.size(); i += n) {
        std::uint32_t cp;
        if ((n = DecodeUtf8(text, i, cp)) == 0) return line;
        line += cp == '\n';
    }
    return 0;
}

void AppendEscape(std::string& out, std::uint32_t cp) {
    char escape[16];
    std::snprintf(escape, sizeof escape, cp > 0xFFFF ? "\\U%08X" : "\\u%04X", static_cast<unsigned>(cp));
    out += escape;
}

// The manifest as the TOML reader gets it: characters outside ASCII are
// allowed only in quoted texts and comments, and even there the reader never
// sees one. toml++ 3.3 (Debian's) reaches undefined behaviour when it tests
// some of them for white space (U+00A1-U+0499, U+2D6E-U+3167, U+FC36-U+FEFE
// fall through its table), and its error paths scan quoted texts as if they
// were values. So texts carry them as \u escapes (a literal text becomes a
// basic one with the same value), comments lose them, and lines stay where
// they were. Returns the line of a stray character outside a text or
// comment, 0 when there is none. The text must be valid UTF-8.
int AsciiTomlText(const std::string& text, std::string& out) {
    out.clear();
    out.reserve(text.size() + text.size() / 4);
    int line = 1;
    auto nonAscii = [&](std::size_t from, std::size_t to) {
        for (std::size_t j = from; j < to && j < text.size(); ++j)
            if (static_cast<unsigned char>(text[j]) >= 0x80) return true;
        return false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            ++line;
            out += c;
        } else if (c == '#') {
            for (; i < text.size() && text[i] != '\n'; ++i) out += static_cast<unsigned char>(text[i]) >= 0x80 ? '?' : text[i];
            --i;
        } else if (c == '"' || c == '\'') {
            bool multi = text.compare(i, 3, std::string(3, c)) == 0;
            std::size_t open = multi ? 3 : 1;
            std::size_t end = multi ? text.find(std::string(3, c), i + 3) : i + 1;
            if (!multi) {
                while (end < text.size() && text[end] != c && text[end] != '\n') end += (c == '"' && text[end] == '\\') ? 2 : 1;
                if (end >= text.size() || text[end] != c) end = std::string::npos;
            }
            // An unterminated text does not protect what it holds; the reader reports it.
            if (end == std::string::npos) {
                if (nonAscii(i, text.find('\n', i))) return line;
                for (; i < text.size(); ++i) out += static_cast<unsigned char>(text[i]) >= 0x80 ? '?' : text[i];
                return 0;
            }
            const bool convert = c == '\'' && nonAscii(i + open, end);
            out.append(open, convert ? '"' : c);
            for (std::size_t j = i + open; j < end;) {
                std::uint32_t cp;
                std::size_t n = DecodeUtf8(text, j, cp);
                if (n > 1) {
                    AppendEscape(out, cp);
                } else {
                    if (convert && (text[j] == '\\' || text[j] == '"')) out += '\\';
                    out += text[j];
                    line += text[j] == '\n';
                    n = 1;
                }
                j += n;
            }
            out.append(open, convert ? '"' : c);
            i = end + open - 1;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            return line;
        } else {
            out += c;
        }
    }
    return 0;
}

std::uint32_t Fnv1a(const std::string& bytes) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

bool AddUninstaller(Manifest& m, const fs::path& uninstallExe) {
    if (!m.uninstaller || m.script.header.setupKind != cabsetup::kSetupKindFull || uninstallExe.empty()) return false;
    m.files.push_back({uninstallExe, "<TARGET_DIR>\\uninstall.exe", cabsetup::ReplaceAlways, 0});
    return true;
}

bool ParseVolumeSize(const std::string& text, std::uint64_t& bytes) {
    if (text == "none" || text.empty()) {
        bytes = 0;
        return true;
    }
    if (text == "1.44MB") {
        bytes = 1457664;
        return true;
    }
    std::size_t end = 0;
    double number = 0;
    try {
        number = std::stod(text, &end);
    } catch (...) {
        return false;
    }
    std::string unit = text.substr(end);
    double scale = unit.empty() ? 1 : unit == "KB" ? 1024.0 : unit == "MB" ? 1048576.0 : unit == "GB" ? 1073741824.0 : 0;
    if (scale == 0 || number < 0) return false;
    bytes = static_cast<std::uint64_t>(std::floor(number * scale));
    return true;
}

bool LoadManifest(const fs::path& path, Manifest& m, std::vector<std::string>& errors) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m = {};
        m.path = path;
        errors.push_back(path.string() + ": cannot open the manifest");
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    return LoadManifestText(buffer.str(), path, m, errors);
}

bool LoadManifestText(const std::string& text, const fs::path& path, Manifest& m, std::vector<std::string>& errors) {
    m = {};
    m.path = path;
    m.spanSeed = Fnv1a(text);

    if (int line = InvalidUtf8Line(text)) {
        errors.push_back(path.string() + ":" + std::to_string(line) + ": the manifest is not valid UTF-8");
        return false;
    }
    std::string ascii;
    if (int line = AsciiTomlText(text, ascii)) {
        errors.push_back(path.string() + ":" + std::to_string(line) +
                         ": characters outside ASCII belong only in quoted texts and comments");
        return false;
    }
    toml::table root;
    try {
        root = toml::parse(ascii, path.string());
    } catch (const toml::parse_error& e) {
        errors.push_back(path.string() + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
        return false;
    }
    if (auto cp = root["package"]["codePage"].value<std::int64_t>()) m.codePage = static_cast<int>(*cp);
    Reader r(path, m.codePage, errors);
    fs::path base = path.parent_path();
    r.CheckKeys(root, "the manifest", {"package", "medium", "file", "registry", "shortcut", "program", "linked"});

    if (const toml::table* package = root["package"].as_table()) ReadPackage(r, *package, base, m);
    else r.Error(&root, "missing table [package]");
    if (const toml::table* medium = root["medium"].as_table()) ReadMedium(r, *medium, m.medium);
    ReadFiles(r, root, base, m.files);
    ReadActions(r, root, m.script);

    if (const toml::table* linked = root["linked"].as_table()) {
        m.hasLinked = true;
        r.CheckKeys(*linked, "[linked]",
                    {"label", "volumeVersion", "finishOptions", "file", "registry", "shortcut", "program"});
        r.Text(*linked, "label", cabsetup::kLabelSize, m.linked.label, true);
        if (m.linked.label.empty()) r.Error(linked, "[linked] needs a non-empty label: the main set names its linked set by it");
        r.Text(*linked, "volumeVersion", cabsetup::kVolumeVersionSize, m.linked.volumeVersion);
        r.Text(*linked, "finishOptions", cabsetup::kPathField, m.linked.script.header.finishOptions);
        m.linked.script.header.setupKind = m.script.header.setupKind;
        ReadFiles(r, *linked, base, m.linked.files);
        ReadActions(r, *linked, m.linked.script);
        if (m.linked.files.size() > 0x7FFFFFFF - cabsetup::kFirstLinkedCabinet) r.Error(linked, "too many files");
    }
    if (m.files.size() > 0xFFFFFFFFu) r.Error(&root, "too many files");
    return errors.empty();
}

}  // namespace mksetup
