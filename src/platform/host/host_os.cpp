#include "platform/host/host_os.h"

#include <cerrno>
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <mspack.h>

namespace cabsetup {

namespace fs = std::filesystem;

namespace {

struct StringEntry {
    unsigned id;
    const char* english;
    const char* korean;
};

constexpr StringEntry kStrings[] = {
#define CABSETUP_STRING(id, english, korean) {id, english, korean},
#include "resources/strings.def"
#include "resources/uninstall_strings.def"
#undef CABSETUP_STRING
};

class HostFile final : public Os::Handle {
public:
    explicit HostFile(std::FILE* f, std::function<void()> closed = {}) : file(f), onClose(std::move(closed)) {}
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    ~HostFile() override {
        std::fclose(file);
        if (onClose) onClose();
    }
    std::FILE* file;
    std::function<void()> onClose;  // a memory file keeps what was written
};

// A file written in memory: open_memstream's buffer, kept when it closes.
struct MemoryWrite {
    char* buffer = nullptr;
    std::size_t size = 0;
    ~MemoryWrite() { std::free(buffer); }
};

class HostSearch final : public Os::Handle {
public:
    std::vector<FindData> entries;
    std::size_t next = 0;
};

class HostKey final : public Os::Handle {
public:
    explicit HostKey(std::string n) : name(std::move(n)) {}
    std::string name;
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Windows wildcard match of one name, ignoring case.
bool WildcardMatch(const char* pattern, const char* name) {
    if (*pattern == 0) return *name == 0;
    if (*pattern == '*') return WildcardMatch(pattern + 1, name) || (*name && WildcardMatch(pattern, name + 1));
    if (*name == 0) return false;
    if (*pattern != '?' && std::tolower(static_cast<unsigned char>(*pattern)) !=
                               std::tolower(static_cast<unsigned char>(*name)))
        return false;
    return WildcardMatch(pattern + 1, name + 1);
}

FindData Describe(const fs::path& p) {
    FindData d;
    d.name = p.filename().string();
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        d.attributes = kAttrDirectory;
    } else {
        d.attributes = 0x80;  // FILE_ATTRIBUTE_NORMAL
        auto size = fs::file_size(p, ec);
        if (!ec) d.sizeLow = static_cast<std::uint32_t>(size), d.sizeHigh = static_cast<std::uint32_t>(size >> 32);
    }
    if (fs::is_symlink(p, ec)) d.attributes |= kAttrReparsePoint;  // as a junction or symbolic link
    return d;
}

}  // namespace

HostOs::HostOs(fs::path sandbox, int codePage) : sandbox_(std::move(sandbox)), codePage_(codePage) {}

std::string HostOs::Lengthen(const std::string& windowsPath) const {
    std::string path = windowsPath;
    for (bool changed = true; changed;) {
        changed = false;
        std::string lower = Lower(path);
        for (const auto& [shortPath, longPath] : shortNames_)
            if (lower.compare(0, shortPath.size(), shortPath) == 0 &&
                (lower.size() == shortPath.size() || lower[shortPath.size()] == '\\')) {
                path = longPath + path.substr(shortPath.size());
                changed = true;
                break;
            }
    }
    return path;
}

void HostOs::SetShortName(const std::string& shortPath, const std::string& longPath) {
    shortNames_.emplace_back(Lower(shortPath), longPath);
}

fs::path HostOs::HostPath(const std::string& windowsPath) const {
    std::string path = Lengthen(windowsPath);
    if (path.size() < 2 || path[1] != ':') {
        if (!path.empty() && path[0] == '\\') path = currentDir_.substr(0, 2) + path;
        else path = currentDir_ + "\\" + path;
    }
    char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    auto mapped = drives_.find(drive);
    fs::path out = mapped != drives_.end() ? mapped->second : sandbox_ / std::string(1, drive);
    // Split on backslashes that are separators in the current code page.
    std::string rest = path.substr(2), part;
    for (std::size_t i = 0; i < rest.size(); i += codePage_.CharLength(rest, i)) {
        if (rest[i] == '\\' && codePage_.CharLength(rest, i) == 1) {
            if (!part.empty()) out /= part;
            part.clear();
        } else {
            part.append(rest, i, codePage_.CharLength(rest, i));
        }
    }
    if (!part.empty()) out /= part;
    return out;
}

void HostOs::MapDrive(char letter, fs::path folder) {
    drives_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = std::move(folder);
}

Os::HandlePtr HostOs::OpenRead(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return nullptr;
    if (memoryFiles_) {
        auto it = memory_.find(PathKey(path));
        if (it == memory_.end()) return nullptr;
        // fmemopen refuses an empty buffer; an empty file reads as /dev/null.
        std::vector<unsigned char>& bytes = *it->second;
        std::FILE* f = bytes.empty() ? std::fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
        std::shared_ptr<std::vector<unsigned char>> keep = it->second;  // alive while open
        return f ? std::make_unique<HostFile>(f, [keep] {}) : nullptr;
    }
    fs::path p = HostPath(path);
    std::error_code ec;
    if (fs::is_directory(p, ec)) return nullptr;
    std::FILE* f = std::fopen(p.c_str(), "rb");
    return f ? std::make_unique<HostFile>(f) : nullptr;
}

void HostOs::PutFile(const std::string& windowsPath, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    memory_[PathKey(windowsPath)] = std::make_shared<std::vector<unsigned char>>(bytes, bytes + size);
}

Os::HandlePtr HostOs::CreateAlways(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return nullptr;
    if (inUse_.count(PathKey(path)) || running_.count(PathKey(path))) return nullptr;  // a sharing violation
    if (memoryFiles_) {
        auto written = std::make_shared<MemoryWrite>();
        std::FILE* f = open_memstream(&written->buffer, &written->size);
        if (!f) return nullptr;
        std::string key = PathKey(path);
        return std::make_unique<HostFile>(f, [this, key, written] {
            std::lock_guard closing(filesMutex_);
            memory_[key] = std::make_shared<std::vector<unsigned char>>(written->buffer, written->buffer + written->size);
        });
    }
    if (held_.count(PathKey(path))) return nullptr;
    std::FILE* f = std::fopen(HostPath(path).c_str(), "wb");
    return f ? std::make_unique<HostFile>(f) : nullptr;
}

bool HostOs::FileSize(Handle& file, std::uint64_t& size) {
    std::FILE* f = static_cast<HostFile&>(file).file;
    off_t here = ftello(f);
    if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return false;
    off_t end = ftello(f);
    fseeko(f, here, SEEK_SET);
    if (end < 0) return false;
    size = static_cast<std::uint64_t>(end);
    return true;
}

bool HostOs::Read(Handle& file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    std::FILE* f = static_cast<HostFile&>(file).file;
    got = std::fread(buffer, 1, size, f);
    return !std::ferror(f);
}

bool HostOs::Write(Handle& file, const void* data, std::size_t size) {
    std::FILE* f = static_cast<HostFile&>(file).file;
    return std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0;
}

bool HostOs::Seek(Handle& file, std::int64_t offset, bool fromCurrent) {
    return fseeko(static_cast<HostFile&>(file).file, offset, fromCurrent ? SEEK_CUR : SEEK_SET) == 0;
}

void HostOs::SetInUse(const std::string& windowsPath, bool inUse) {
    std::lock_guard lock(filesMutex_);
    if (inUse) inUse_.insert(PathKey(windowsPath));
    else inUse_.erase(PathKey(windowsPath));
}

void HostOs::SetRunning(const std::string& windowsPath, bool running) {
    std::lock_guard lock(filesMutex_);
    if (running) running_.insert(PathKey(windowsPath));
    else running_.erase(PathKey(windowsPath));
}

std::uint32_t HostOs::AttributesOf(const std::string& key, bool folder) const {
    auto it = attributes_.find(key);
    std::uint32_t kept = it != attributes_.end() ? it->second : 0;
    if (folder) return kAttrDirectory | kept;
    return kept ? kept : 0x80;  // FILE_ATTRIBUTE_NORMAL: only ever alone
}

bool HostOs::DeleteFile(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return false;
    std::string key = PathKey(path);
    if (memoryFiles_) return memory_.erase(key) > 0;
    std::error_code ec;
    if (inUse_.count(key) || running_.count(key) || held_.count(key) || (attributes_[key] & kAttrReadOnly) ||
        fs::is_directory(key, ec))
        return false;
    attributes_.erase(key);
    return fs::remove(key, ec);
}

Os::HandlePtr HostOs::CreateHidden(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    HandlePtr file = CreateAlways(path);
    if (file) attributes_[PathKey(path)] = kAttrHidden;
    return file;
}

bool HostOs::PutInPlace(HandlePtr file, const std::string& from, const std::string& to) {
    std::lock_guard lock(filesMutex_);
    file.reset();
    if (!MoveFile(from, to)) return false;
    attributes_.erase(PathKey(to));  // a new file: NORMAL, as the sandbox shows one it keeps nothing of
    return true;
}

bool HostOs::MoveFile(const std::string& from, const std::string& to) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(from) || TooLong(to)) return false;
    std::string a = PathKey(from), b = PathKey(to);
    std::error_code ec;
    if (inUse_.count(a) || held_.count(a) || !fs::exists(a, ec) || fs::exists(b, ec)) return false;
    fs::rename(a, b, ec);
    if (ec) return false;
    if (attributes_.count(a)) attributes_[b] = attributes_[a], attributes_.erase(a);
    if (running_.erase(a)) running_.insert(b);  // a running image is renamed, and still runs
    return true;
}

namespace {
// The error of this thread's last failed lookup, as GetLastError keeps it.
thread_local std::uint32_t lastError = 0;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
bool Failed(std::uint32_t error) {
    lastError = error;
    return false;
}
}  // namespace

std::uint32_t HostOs::LastError() { return lastError; }

bool HostOs::GetAttributes(const std::string& path, std::uint32_t& attributes) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return Failed(kErrorFilenameTooLong);
    std::string key = PathKey(path);
    std::error_code ec;
    if (!fs::exists(key, ec)) return Failed(kErrorFileNotFound);
    attributes = AttributesOf(key, fs::is_directory(key, ec));
    return true;
}

bool HostOs::SetAttributes(const std::string& path, std::uint32_t attributes) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return false;
    std::string key = PathKey(path);
    std::error_code ec;
    if (!fs::exists(key, ec)) return false;
    attributes_[key] = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
    return true;
}

bool HostOs::DeleteAtRestart(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return false;
    restartDeletes_.push_back(path);
    return true;
}

bool HostOs::DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(folder)) return Failed(kErrorFilenameTooLong);
    std::error_code ec;
    fs::path p = HostPath(folder);
    if (!fs::is_directory(p, ec)) return Failed(kErrorPathNotFound);
    char drive = folder.size() >= 2 && folder[1] == ':' ? static_cast<char>(folder[0] & ~0x20) : 0;
    if (auto set = freeSpace_.find(drive); set != freeSpace_.end()) {
        freeBytes = set->second;
        return true;
    }
    fs::space_info space = fs::space(p, ec);
    if (ec) return Failed(kErrorAccessDenied);
    freeBytes = space.available;
    return true;
}

namespace {
// A named mutex of the sandbox: the name is held while a handle is open.
class HostMutex final : public Os::Handle {
public:
    HostMutex(std::shared_ptr<std::map<std::string, int>> held, std::string name)
        : held_(std::move(held)), name_(std::move(name)) {
        ++(*held_)[name_];
    }
    ~HostMutex() override {
        if (--(*held_)[name_] == 0) held_->erase(name_);
    }

private:
    std::shared_ptr<std::map<std::string, int>> held_;
    std::string name_;
};
}  // namespace

Os::HandlePtr HostOs::CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
    std::lock_guard lock(filesMutex_);
    alreadyExisted = mutexes_->count(name) != 0;
    return std::make_unique<HostMutex>(mutexes_, name);
}

bool HostOs::CanDeleteNow(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return false;
    std::string key = PathKey(path);
    std::error_code ec;
    return fs::is_regular_file(key, ec) && !inUse_.count(key) && !running_.count(key) &&
           !(attributes_[key] & kAttrReadOnly);
}

bool HostOs::ExtractCabinet(const std::string& cabinet, const std::string& target) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(cabinet) || TooLong(target)) return false;
    // As the system's interface does, a failed unpack may leave a partial file.
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    if (!cabd) return false;
    std::string from = PathKey(cabinet), to = PathKey(target);
    bool ok = false;
    if (mscabd_cabinet* cab = cabd->open(cabd, from.data())) {
        ok = true;
        for (mscabd_file* f = cab->files; f && ok; f = f->next) ok = cabd->extract(cabd, f, to.data()) == MSPACK_ERR_OK;
        std::error_code ec;
        if (ok && shortUnpack_ && fs::file_size(to, ec) > 0) fs::resize_file(to, fs::file_size(to, ec) - 1, ec);
        cabd->close(cabd, cab);
    }
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}

void HostOs::Yield() { std::this_thread::yield(); }

std::uint32_t HostOs::TickCount() {
    if (clock_) return clock_();
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

namespace {

class HostThread final : public Os::Thread {
public:
    explicit HostThread(std::function<void()> body) : thread_(std::move(body)) {}
    ~HostThread() override { Join(); }
    void Join() override {
        if (thread_.joinable()) thread_.join();
    }
    bool IsCurrent() const override { return thread_.get_id() == std::this_thread::get_id(); }

private:
    std::thread thread_;
};

}  // namespace

Os::ThreadPtr HostOs::StartThread(std::function<void()> body) {
    try {
        return std::make_unique<HostThread>(std::move(body));
    } catch (const std::system_error&) {
        return nullptr;  // as the system refuses a thread
    }
}

bool HostOs::PostNotify(WindowHandle window, unsigned code) {
    if (windowGone_) return false;
    if (sink_) sink_(window, code, false);
    return true;
}

void HostOs::SendNotify(WindowHandle window, unsigned code) {
    if (sink_) sink_(window, code, true);
}

bool HostOs::RemoveDirectory(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return false;
    std::error_code ec;
    std::string key = PathKey(path);
    // A link goes as itself, whatever it points to (as a junction does).
    if (fs::is_symlink(key, ec)) return fs::remove(key, ec);
    if (!fs::exists(key, ec)) return Failed(kErrorFileNotFound);
    if (!fs::is_directory(key, ec)) return Failed(267);  // ERROR_DIRECTORY
    if (!fs::is_empty(key, ec)) return Failed(145);      // ERROR_DIR_NOT_EMPTY
    return fs::remove(key, ec) || Failed(kErrorAccessDenied);
}

bool HostOs::CreateDirectory(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    // CreateDirectoryA leaves room for an 8.3 name inside the folder.
    if (path.size() >= kMaxPath - 12) return false;
    std::error_code ec;
    fs::path p = HostPath(path);
    if (fs::exists(p, ec) || !fs::is_directory(p.parent_path(), ec)) return false;
    return fs::create_directory(p, ec);
}

bool HostOs::FileInfo(const std::string& path, FindData& out) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return Failed(kErrorFilenameTooLong);
    if (path.size() <= 2 || path.find_first_of("*?") != std::string::npos) return Failed(123);  // ERROR_INVALID_NAME
    fs::path p = HostPath(path);
    std::error_code ec;
    if (!fs::exists(p, ec) && !fs::is_symlink(p, ec)) return Failed(kErrorFileNotFound);
    out = Describe(p);
    std::error_code dir;
    out.attributes = AttributesOf(PathKey(path), fs::is_directory(p, dir)) | (out.attributes & kAttrReparsePoint);
    return true;
}

Os::HandlePtr HostOs::FindFirst(const std::string& pattern, FindData& out) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(pattern)) return Failed(kErrorFilenameTooLong), nullptr;
    lastError = kErrorFileNotFound;  // every other way this ends without an entry
    // As on Windows, a pattern that ends in a backslash names no entry.
    if (pattern.empty() || (pattern.back() == '\\' && codePage_.FindLastChar(pattern, '\\') == pattern.size() - 1))
        return nullptr;
    fs::path p = HostPath(pattern);
    auto search = std::make_unique<HostSearch>();
    std::string name = p.filename().string();
    if (name == "*.*") name = "*";  // as on Windows: every name, with a dot or without
    std::error_code ec;
    if (name.find_first_of("*?") == std::string::npos) {
        if (pattern.size() <= 2 || !fs::exists(p, ec)) return nullptr;  // a bare drive has no entry
        search->entries.push_back(Describe(p));
    } else {
        // As on Windows, a folder other than a drive's root lists itself and its parent.
        if (fs::is_directory(p.parent_path(), ec) && p.parent_path() != HostPath(pattern.substr(0, 2) + "\\"))
            for (const char* dot : {".", ".."})
                if (WildcardMatch(name.c_str(), dot)) {
                    FindData d;
                    d.attributes = kAttrDirectory;
                    d.name = dot;
                    search->entries.push_back(d);
                }
        for (const auto& e : fs::directory_iterator(p.parent_path(), ec))
            if (WildcardMatch(name.c_str(), e.path().filename().c_str())) search->entries.push_back(Describe(e.path()));
        std::sort(search->entries.begin(), search->entries.end(),
                  [](const FindData& a, const FindData& b) { return a.name < b.name; });
    }
    if (search->entries.empty()) return nullptr;
    out = search->entries[search->next++];
    return search;
}

bool HostOs::FindNext(Handle& search, FindData& out) {
    auto& s = static_cast<HostSearch&>(search);
    if (s.next >= s.entries.size()) return false;
    out = s.entries[s.next++];
    return true;
}

std::map<std::string, std::pair<std::uint32_t, std::vector<unsigned char>>> HostOs::RegistryContents() const {
    std::map<std::string, std::pair<std::uint32_t, std::vector<unsigned char>>> out;
    for (const auto& [name, key] : registry_) {
        out[name + "\\"];
        for (const auto& [value, bytes] : key.values) {
            auto type = key.types.find(value);
            out[name + "\\" + value] = {type == key.types.end() ? kRegSz : type->second, bytes};
        }
    }
    return out;
}

std::string HostOs::KeyName(RegRoot root, const std::string& subkey) {
    return std::to_string(static_cast<int>(root)) + "\\" + Lower(subkey);
}

void HostOs::SetRegistryString(RegRoot root, const std::string& subkey, const std::string& name,
                               const std::string& text) {
    std::vector<unsigned char> bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetRegistryBytes(root, subkey, name, bytes);
}

void HostOs::SetRegistryBytes(RegRoot root, const std::string& subkey, const std::string& name,
                              const std::vector<unsigned char>& bytes) {
    registry_[KeyName(root, subkey)].values[Lower(name)] = bytes;
}

void HostOs::DenyFullAccess(RegRoot root, const std::string& subkey) {
    registry_[KeyName(root, subkey)].fullAccessDenied = true;
}

Os::HandlePtr HostOs::RegOpenKey(RegRoot root, const std::string& subkey, std::uint32_t access) {
    auto it = registry_.find(KeyName(root, subkey));
    if (it == registry_.end()) return Failed(kErrorFileNotFound), nullptr;
    if (it->second.fullAccessDenied && access == kKeyAllAccess) return Failed(kErrorAccessDenied), nullptr;
    return std::make_unique<HostKey>(it->first);
}

bool HostOs::RegQueryValue(Handle& key, const std::string& valueName, void* buffer, std::size_t& size) {
    const Key& k = registry_.at(static_cast<HostKey&>(key).name);
    auto it = k.values.find(Lower(valueName));
    if (it == k.values.end()) return Failed(kErrorFileNotFound);
    const auto& bytes = it->second;
    if (bytes.size() > size) {
        size = bytes.size();
        return Failed(234);  // ERROR_MORE_DATA
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    size = bytes.size();
    return true;
}

Os::HandlePtr HostOs::RegCreateKey(RegRoot root, const std::string& subkey) {
    std::string name = KeyName(root, subkey);
    registry_[name];
    return std::make_unique<HostKey>(name);
}

bool HostOs::RegSetValue(Handle& key, const std::string& valueName, std::uint32_t type, const void* data,
                         std::size_t size) {
    Key& k = registry_.at(static_cast<HostKey&>(key).name);
    const auto* bytes = static_cast<const unsigned char*>(data);
    k.values[Lower(valueName)].assign(bytes, bytes + size);
    k.types[Lower(valueName)] = type;
    return true;
}

bool HostOs::RegDeleteValue(Handle& key, const std::string& valueName) {
    return registry_.at(static_cast<HostKey&>(key).name).values.erase(Lower(valueName)) > 0 ||
           Failed(kErrorFileNotFound);
}

bool HostOs::HasSubkeys(const std::string& name) const {
    std::string prefix = name + "\\";
    auto next = registry_.lower_bound(prefix);
    return next != registry_.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

bool HostOs::RegKeyIsEmpty(Handle& key) {
    const std::string& name = static_cast<HostKey&>(key).name;
    lastError = 0;  // asked and answered: false means "not empty"
    return registry_.at(name).values.empty() && !HasSubkeys(name);
}

bool HostOs::KeyExists(RegRoot root, const std::string& subkey) const { return registry_.count(KeyName(root, subkey)) > 0; }

bool HostOs::RegDeleteKey(RegRoot root, const std::string& subkey) {
    std::string name = KeyName(root, subkey);
    if (!registry_.count(name)) return Failed(kErrorFileNotFound);
    if (HasSubkeys(name)) return Failed(kErrorAccessDenied);
    registry_.erase(name);
    return true;
}

bool HostOs::RegistryValue(RegRoot root, const std::string& subkey, const std::string& name, std::uint32_t& type,
                           std::vector<unsigned char>& data) const {
    auto key = registry_.find(KeyName(root, subkey));
    if (key == registry_.end()) return false;
    auto value = key->second.values.find(Lower(name));
    if (value == key->second.values.end()) return false;
    auto t = key->second.types.find(Lower(name));
    type = t == key->second.types.end() ? kRegSz : t->second;
    data = value->second;
    return true;
}

long HostOs::CoInitialize() {
    return coInitializeCalls_++ == 0 ? kSOk : kSFalse;
}

namespace {
class HostLink final : public Os::Handle {};
class HostProcess final : public Os::Handle {
public:
    explicit HostProcess(std::size_t i) : index(i) {}
    std::size_t index;
};
}  // namespace

Os::HandlePtr HostOs::CreateShellLink() {
    return std::make_unique<HostLink>();
}

bool HostOs::SaveShellLink(Handle&, const ShellLinkData& data, const std::string& linkPath) {
    if (linkPath.size() >= kMaxPath) return false;
    std::FILE* f = std::fopen(PathKey(linkPath).c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "%s\n%s\n%s\n%s,%d\n", data.target.c_str(), data.workingDir.c_str(), data.description.c_str(),
                 data.iconPath.c_str(), data.iconIndex);
    std::fclose(f);
    links_.push_back({linkPath, data});
    return true;
}

Os::HandlePtr HostOs::CreateProcess(const ProcessStart& start) {
    std::error_code ec;
    if (!fs::is_regular_file(PathKey(start.application), ec) ||
        (!start.currentDir.empty() && !fs::is_directory(PathKey(start.currentDir), ec)))
        return nullptr;
    processes_.push_back({start, processPolls_, processExitCode_});
    auto process = std::make_unique<HostProcess>(processes_.size() - 1);
    if (runner_) runner_(start);
    return process;
}

bool HostOs::ProcessEnded(Handle& process) {
    RecordedProcess& p = processes_.at(static_cast<HostProcess&>(process).index);
    if (p.pollsLeft == 0) return true;
    --p.pollsLeft;
    return false;
}

std::string HostOs::LoadString(unsigned id) {
    for (const StringEntry& e : kStrings)
        if (e.id == id) return korean_ ? e.korean : e.english;
    return {};
}

int HostOs::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    messages_.push_back({text, caption, flags});
    return kIdOk;
}

}  // namespace cabsetup

namespace cabsetup {

namespace {

class HostWaitable final : public Os::Handle {};

}  // namespace

bool HostOs::CopyFile(const std::string& from, const std::string& to) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(from) || TooLong(to)) return false;
    std::string a = PathKey(from), b = PathKey(to);
    std::error_code ec;
    if (!fs::is_regular_file(a, ec) || fs::exists(b, ec) || fs::is_symlink(b, ec)) return false;
    return fs::copy_file(a, b, ec);
}

Os::HandlePtr HostOs::HoldFile(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return nullptr;
    std::string key = PathKey(path);
    std::error_code ec;
    if (!fs::is_regular_file(key, ec) || inUse_.count(key)) return nullptr;
    std::FILE* f = std::fopen(key.c_str(), "rb");
    if (!f) return nullptr;
    ++held_[key];
    return std::make_unique<HostFile>(f, [this, key] {
        std::lock_guard closing(filesMutex_);
        if (--held_[key] == 0) held_.erase(key);
    });
}

bool HostOs::IsHeld(const std::string& windowsPath) {
    std::lock_guard lock(filesMutex_);
    return held_.count(PathKey(windowsPath)) > 0;
}

std::string HostOs::LongPathName(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path) || path.size() < 3) return {};
    std::error_code ec;
    fs::path p = HostPath(path);
    if (!fs::exists(p, ec) && !fs::is_symlink(p, ec)) return Failed(kErrorFileNotFound), std::string();
    return Lengthen(path);
}

bool HostOs::CreatePrivateDirectory(const std::string& path) {
    std::lock_guard lock(filesMutex_);
    if (!CreateDirectory(path)) return false;
    privateFolders_.insert(path);
    return true;
}

bool HostOs::RegEnumKey(Handle& key, std::uint32_t index, std::string& name) {
    const std::string prefix = static_cast<HostKey&>(key).name + "\\";
    std::set<std::string> children;
    for (auto it = registry_.lower_bound(prefix); it != registry_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it)
        children.insert(it->first.substr(prefix.size(), it->first.find('\\', prefix.size()) - prefix.size()));
    if (index >= children.size()) return Failed(259);  // ERROR_NO_MORE_ITEMS
    name = *std::next(children.begin(), index);
    return true;
}

Os::HandlePtr HostOs::OpenProcess(std::uint32_t id) {
    if (id == 0) return nullptr;
    return std::make_unique<HostWaitable>();
}

bool HostOs::WaitForProcess(Handle&, unsigned) { return waitedProcessEnds_; }

Os::HandlePtr HostOs::CreatePipe(HandlePtr& writeEnd, std::string& writeEndName) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    std::FILE* reader = ::fdopen(fds[0], "rb");
    std::FILE* writer = ::fdopen(fds[1], "wb");
    if (!reader || !writer) {
        if (reader) std::fclose(reader); else ::close(fds[0]);
        if (writer) std::fclose(writer); else ::close(fds[1]);
        return nullptr;
    }
    writeEnd = std::make_unique<HostFile>(writer);
    writeEndName = std::to_string(fds[1]);
    return std::make_unique<HostFile>(reader);
}

Os::HandlePtr HostOs::OpenInheritedHandle(const std::string& name) {
    char* end = nullptr;
    long fd = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end || fd < 0) return nullptr;
    int copy = ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    std::FILE* f = ::fdopen(copy, "wb");
    if (!f) {
        ::close(copy);
        return nullptr;
    }
    return std::make_unique<HostFile>(f);
}

bool HostOs::Random(void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i < size; ++i) {
        // xorshift64: every name differs, and every test run sees the same ones.
        random_ ^= random_ << 13;
        random_ ^= random_ >> 7;
        random_ ^= random_ << 17;
        out[i] = static_cast<unsigned char>(random_ >> 32);
    }
    return true;
}

Os::HandlePtr HostOs::OpenLogFile(const std::string& path, LogOpen mode) {
    std::lock_guard lock(filesMutex_);
    if (TooLong(path)) return nullptr;
    const char* how = mode == LogOpen::New ? "wbx" : mode == LogOpen::Replace ? "wb" : "ab";
    std::FILE* f = std::fopen(HostPath(path).c_str(), how);
    if (!f) {
        lastError = errno == EEXIST ? 80 : errno == ENOENT ? kErrorPathNotFound : kErrorAccessDenied;
        return nullptr;
    }
    return std::make_unique<HostFile>(f);
}

bool HostOs::ProcessExitCode(Handle& process, std::uint32_t& code) {
    code = processes_.at(static_cast<HostProcess&>(process).index).exitCode;
    return true;
}

std::string HostOs::ErrorText(std::uint32_t error) {
    switch (error) {
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 5: return "Access is denied.";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 80: return "The file exists.";
    case 112: return "There is not enough space on the disk.";
    case 206: return "The filename or extension is too long.";
    default: return std::string();
    }
}

std::string HostOs::ToUtf8(const std::string& text) {
    const std::string from = "CP" + std::to_string(codePage_.Number());
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0 && iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
        if (errno != EILSEQ && errno != EINVAL) break;
        // A byte the code page does not define reads as the system would show it: a question mark.
        *o++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

SystemLocale HostOs::Locale() {
    return {static_cast<std::uint16_t>(korean_ ? 0x0412 : 0x0409), static_cast<std::uint32_t>(codePage_.Number())};
}

}  // namespace cabsetup
