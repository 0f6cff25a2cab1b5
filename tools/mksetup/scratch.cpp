#include "scratch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <direct.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace mksetup {

namespace {

// What a signal handler may read: fixed storage, claimed and published with
// lock-free atomics, nothing allocated. A handful is all a run ever holds.
using Char = fs::path::value_type;
constexpr int kSlots = 16;
constexpr std::size_t kPathChars = 4096;
struct Slot {
    std::atomic<int> state{0};  // 0 free, 1 being written, 2 to remove
    bool folder = false;
    Char path[kPathChars];
};
Slot slots[kSlots];
std::atomic<long> runningTool{0};

void RemovePath(const Char* path, bool folder) {
#ifdef _WIN32
    if (folder) _wrmdir(path);
    else _wunlink(path);
#else
    if (folder) rmdir(path);
    else unlink(path);
#endif
}

// Files first, then the folders that held them.
void RemoveEverything() {
    for (bool folders : {false, true})
        for (int i = kSlots - 1; i >= 0; --i)
            if (slots[i].state.load() == 2 && slots[i].folder == folders) RemovePath(slots[i].path, folders);
}

#ifdef _WIN32
const int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};

void OnSignal(int signal) {
    // A console's Ctrl+C reaches the running tool by itself.
    RemoveEverything();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void InstallHandlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    for (int s : kSignals) {
        auto previous = std::signal(s, OnSignal);
        if (previous == SIG_IGN) std::signal(s, SIG_IGN);
    }
}

#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kSignals)];

void OnSignal(int signal) {
    // The tool could otherwise still write into what is about to go.
    if (pid_t tool = static_cast<pid_t>(runningTool.load()); tool > 0) {
        kill(tool, SIGKILL);
        while (waitpid(tool, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    RemoveEverything();
    // End as the signal would have ended us: the caller sees it in our status.
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (kSignals[i] == signal) sigaction(signal, &previous[i], nullptr);
    raise(signal);
}

void InstallHandlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN) continue;  // nohup: a hang-up is not ours to act on
        struct sigaction mine {};
        mine.sa_handler = OnSignal;
        sigfillset(&mine.sa_mask);
        sigaction(kSignals[i], &mine, nullptr);
    }
}

#endif

int Claim(const fs::path& path, bool folder) {
    InstallHandlers();
    const auto& text = path.native();
    if (text.size() >= kPathChars) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!slots[i].state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(slots[i].path, text.c_str(), (text.size() + 1) * sizeof(Char));
        slots[i].folder = folder;
        slots[i].state.store(2);
        return i;
    }
    return -1;
}

}  // namespace

RemovedOnExit::RemovedOnExit(fs::path path, Kind kind)
    : path_(std::move(path)), kind_(kind), slot_(Claim(path_, kind == Kind::Folder)) {}

RemovedOnExit::~RemovedOnExit() {
    if (path_.empty()) return;
    std::error_code ec;
    if (kind_ == Kind::Folder) fs::remove_all(path_, ec);
    else fs::remove(path_, ec);
    Release();
}

#ifdef _WIN32
// Nothing to hold: the Windows handlers run on a thread of their own, and a
// folder is registered before it is made.
SignalsHeld::SignalsHeld() {}
SignalsHeld::~SignalsHeld() {}
#else
SignalsHeld::SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
}
SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
#endif

void RemovedOnExit::Release() {
    if (slot_ >= 0) slots[slot_].state.store(0);
    slot_ = -1;
    path_.clear();
}

void SetRunningTool(long processId) { runningTool.store(processId); }

PrivateFolder::PrivateFolder(fs::path path) : folder_(std::move(path), RemovedOnExit::Kind::Folder) {}

const fs::path& PrivateFolder::Reserve(const std::string& name) {
    files_.push_back(std::make_unique<RemovedOnExit>(Path() / name, RemovedOnExit::Kind::File));
    return files_.back()->Path();
}

#ifdef _WIN32

namespace {

// Full control for this user alone, inherited by what the folder holds, and
// nothing inherited from the temporary folder above.
struct OwnerOnly {
    std::vector<BYTE> user, acl;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

    bool Make() {
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size);
        bool ok = size && GetTokenInformation(token, TokenUser, user.data(), size, &size);
        CloseHandle(token);
        if (!ok) return false;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* list = reinterpret_cast<ACL*>(acl.data());
        return InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
               AddAccessAllowedAceEx(list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
               SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
};

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Create(std::string& error) {
    OwnerOnly security;
    if (!security.Make()) {
        error = "cannot describe a folder only this user may open (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; !ec && attempt < 100; ++attempt) {
        fs::path path = temp / ("mksetup-" + std::to_string(random()));
        std::unique_ptr<PrivateFolder> folder(new PrivateFolder(path));
        if (CreateDirectoryW(path.c_str(), &security.attributes)) return folder;
        folder->folder_.Release();  // not ours: never remove what another made
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = "cannot make a private temporary folder in " + temp.string();
    return nullptr;
}

bool PrivateFolder::AddFile(const std::string& name, const std::string& bytes, std::string& error) {
    const fs::path& path = Reserve(name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) error = "cannot write " + path.string();
    return ok;
}

#else

std::unique_ptr<PrivateFolder> PrivateFolder::Create(std::string& error) {
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return nullptr;
    }
    std::string name = (temp / "mksetup-XXXXXX").string();
    SignalsHeld held;  // mkdtemp names the folder only once it exists
    if (!mkdtemp(name.data())) {  // mode 0700, a name no one had
        error = "cannot make a private temporary folder in " + temp.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<PrivateFolder>(new PrivateFolder(name));
}

#endif

}  // namespace mksetup
