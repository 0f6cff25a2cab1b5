#include "platform/win32/win32_os.h"

#include "platform/win32/system_library.h"

#include "platform/win32/windows_clean.h"
#include <objbase.h>
#include <process.h>
#include <sddl.h>
#include <setupapi.h>
#include <shlobj.h>
#include <wintrust.h>

#include <algorithm>
#include <new>
#include <vector>

namespace cabsetup {

namespace {

class Win32Handle final : public Os::Handle {
public:
    enum class Kind { File, Find, Key, Process };
    Win32Handle(Kind kind, HANDLE h) : kind_(kind), handle_(h) {}
    Win32Handle(const Win32Handle&) = delete;
    Win32Handle& operator=(const Win32Handle&) = delete;
    ~Win32Handle() override {
        switch (kind_) {
        case Kind::File:
        case Kind::Process: CloseHandle(handle_); break;
        case Kind::Find: FindClose(handle_); break;
        case Kind::Key: RegCloseKey(static_cast<HKEY>(handle_)); break;
        }
    }
    HANDLE Get() const { return handle_; }
    HKEY Key() const { return static_cast<HKEY>(handle_); }

private:
    Kind kind_;
    HANDLE handle_;
};

HANDLE Raw(Os::Handle& h) { return static_cast<Win32Handle&>(h).Get(); }

void Copy(const WIN32_FIND_DATAA& in, FindData& out) {
    out.attributes = in.dwFileAttributes;
    out.sizeHigh = in.nFileSizeHigh;
    out.sizeLow = in.nFileSizeLow;
    out.name = in.cFileName;
}

HKEY RootKey(RegRoot root) {
    switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::Users: return HKEY_USERS;
    case RegRoot::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case RegRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RegRoot::DynData: return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000006));
    }
    return HKEY_LOCAL_MACHINE;
}

std::string SystemFolder(UINT (WINAPI* get)(LPSTR, UINT)) {
    char buffer[kSystemFolderBuffer] = {};
    UINT n = get(buffer, sizeof buffer);
    return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

}  // namespace

bool SystemCodePage::IsLeadByte(unsigned char b) const { return IsDBCSLeadByte(b) != 0; }

void SystemCodePage::ToLower(std::string& text) const {
    if (!text.empty()) CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
}

Os::HandlePtr Win32Os::OpenRead(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

Os::HandlePtr Win32Os::CreateAlways(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

Os::HandlePtr Win32Os::CreateHidden(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

namespace {

// SetFileInformationByHandle (Windows Vista and later) and its two classes
// used here, declared by hand: the headers offer them only to programs that
// require Vista.
using SetFileInfoFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
constexpr int kFileBasicInfo = 0, kFileRenameInfo = 3;
struct BasicInfo {
    LARGE_INTEGER creation, lastAccess, lastWrite, change;  // 0: unchanged
    DWORD attributes;
};
struct RenameInfo {
    DWORD replaceIfExists;
    HANDLE rootDirectory;
    DWORD nameBytes;
    WCHAR name[1];
};

bool PutInPlaceByHandle(HANDLE h, const std::string& to) {
    static const auto setInfo = reinterpret_cast<SetFileInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle")));
    if (!setInfo) return false;
    int chars = MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, nullptr, 0);
    if (chars <= 0) return false;
    // The name the system takes here is its own kind: \??\ and the full path.
    static const wchar_t kPrefix[] = L"\\??\\";
    std::size_t prefix = sizeof kPrefix / sizeof(wchar_t) - 1;
    std::vector<unsigned char> buffer(sizeof(RenameInfo) + (prefix + chars) * sizeof(WCHAR));
    auto* rename = reinterpret_cast<RenameInfo*>(buffer.data());
    std::copy_n(kPrefix, prefix, rename->name);
    if (MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, rename->name + prefix, chars) <= 0) return false;
    rename->nameBytes = static_cast<DWORD>((prefix + chars - 1) * sizeof(WCHAR));
    BasicInfo basic = {};
    basic.attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!setInfo(h, kFileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) return false;
    // In place: the attributes are a nicety whose failure must not undo that.
    setInfo(h, kFileBasicInfo, &basic, sizeof basic);
    return true;
}

}  // namespace

bool Win32Os::PutInPlace(HandlePtr file, const std::string& from, const std::string& to) {
    if (file && PutInPlaceByHandle(Raw(*file), to)) return true;
    file.reset();
    if (!MoveFileA(from.c_str(), to.c_str())) return false;
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    return true;
}

bool Win32Os::FileInfo(const std::string& path, FindData& out) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    out.attributes = data.dwFileAttributes;
    out.sizeHigh = data.nFileSizeHigh;
    out.sizeLow = data.nFileSizeLow;
    out.name.clear();
    return true;
}

bool Win32Os::FileSize(Handle& file, std::uint64_t& size) {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(Raw(file), &li)) return false;
    size = static_cast<std::uint64_t>(li.QuadPart);
    return true;
}

bool Win32Os::Read(Handle& file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    auto* p = static_cast<char*>(buffer);
    while (got < size) {
        DWORD chunk = static_cast<DWORD>(size - got > 0x40000000 ? 0x40000000 : size - got), n = 0;
        if (!ReadFile(Raw(file), p + got, chunk, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool Win32Os::Write(Handle& file, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size), n = 0;
        if (!WriteFile(Raw(file), p, chunk, &n, nullptr) || n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

bool Win32Os::Seek(Handle& file, std::int64_t offset, bool fromCurrent) {
    LARGE_INTEGER li;
    li.QuadPart = offset;
    return SetFilePointerEx(Raw(file), li, nullptr, fromCurrent ? FILE_CURRENT : FILE_BEGIN) != 0;
}

bool Win32Os::CreateDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }
bool Win32Os::RemoveDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }
bool Win32Os::DeleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }
bool Win32Os::MoveFile(const std::string& from, const std::string& to) { return MoveFileA(from.c_str(), to.c_str()) != 0; }

bool Win32Os::GetAttributes(const std::string& path, std::uint32_t& attributes) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    attributes = a;
    return true;
}

bool Win32Os::SetAttributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

bool Win32Os::DeleteAtRestart(const std::string& path) {
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool Win32Os::CanDeleteNow(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_READONLY)) return false;
    // Write access too: a running program's image, or a library one has
    // loaded, opens for DELETE (and can be renamed) but cannot be deleted;
    // what the system refuses it is write access (ERROR_SHARING_VIOLATION).
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

namespace {

struct ExtractContext {
    const std::string* target;
    bool tooLong;
};

// Every file of the cabinet goes to the one destination of its record.
UINT CALLBACK ExtractCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
    if (notification != SPFILENOTIFY_FILEINCABINET) return NO_ERROR;
    auto* c = static_cast<ExtractContext*>(context);
    auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1);
    if (c->target->size() >= MAX_PATH) {
        c->tooLong = true;
        return FILEOP_SKIP;
    }
    lstrcpynA(info->FullTargetName, c->target->c_str(), MAX_PATH);
    return FILEOP_DOIT;
}

}  // namespace

bool Win32Os::ExtractCabinet(const std::string& cabinet, const std::string& target) {
    static const auto iterate =
        SystemFunctionAs<decltype(&SetupIterateCabinetA)>("setupapi.dll", "SetupIterateCabinetA");
    if (!iterate) return false;
    ExtractContext context{&target, false};
    return iterate(cabinet.c_str(), 0, ExtractCallback, &context) && !context.tooLong;
}

Os::HandlePtr Win32Os::FindFirst(const std::string& pattern, FindData& out) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    Copy(data, out);
    return std::make_unique<Win32Handle>(Win32Handle::Kind::Find, h);
}

bool Win32Os::FindNext(Handle& search, FindData& out) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(Raw(search), &data)) return false;
    Copy(data, out);
    return true;
}

std::uint32_t Win32Os::LastError() { return GetLastError(); }

Os::HandlePtr Win32Os::RegOpenKey(RegRoot root, const std::string& subkey, std::uint32_t access) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, access, &key);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));  // the registry answers with its error, not through GetLastError
        return nullptr;
    }
    return std::make_unique<Win32Handle>(Win32Handle::Kind::Key, key);
}

namespace {
// The registry answers with its error, not through GetLastError: kept there
// for LastError like every other call's.
bool Answer(LONG result) {
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}
}  // namespace

bool Win32Os::RegDeleteValue(Handle& key, const std::string& valueName) {
    return Answer(RegDeleteValueA(static_cast<Win32Handle&>(key).Key(), valueName.c_str()));
}

bool Win32Os::RegKeyIsEmpty(Handle& key) {
    DWORD subkeys = 0, values = 0;
    return Answer(RegQueryInfoKeyA(static_cast<Win32Handle&>(key).Key(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                   nullptr, &values, nullptr, nullptr, nullptr, nullptr)) &&
           subkeys == 0 && values == 0;
}

bool Win32Os::RegDeleteKey(RegRoot root, const std::string& subkey) {
    return Answer(RegDeleteKeyA(RootKey(root), subkey.c_str()));
}

bool Win32Os::RegQueryValue(Handle& key, const std::string& valueName, void* buffer, std::size_t& size) {
    DWORD bytes = static_cast<DWORD>(size);
    LONG r = RegQueryValueExA(static_cast<Win32Handle&>(key).Key(), valueName.c_str(), nullptr, nullptr,
                              static_cast<BYTE*>(buffer), &bytes);
    size = bytes;
    return Answer(r);
}

Os::HandlePtr Win32Os::RegCreateKey(RegRoot root, const std::string& subkey) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(RootKey(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::Key, key);
}

bool Win32Os::RegSetValue(Handle& key, const std::string& valueName, std::uint32_t type, const void* data,
                          std::size_t size) {
    return RegSetValueExA(static_cast<Win32Handle&>(key).Key(), valueName.c_str(), 0, type,
                          static_cast<const BYTE*>(data), static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

long Win32Os::CoInitialize() {
    static const auto initialize = SystemFunctionAs<decltype(&::CoInitialize)>("ole32.dll", "CoInitialize");
    return initialize ? initialize(nullptr) : static_cast<long>(E_FAIL);
}

namespace {

class ShellLinkHandle final : public Os::Handle {
public:
    explicit ShellLinkHandle(IShellLinkA* link) : link_(link) {}
    ShellLinkHandle(const ShellLinkHandle&) = delete;
    ShellLinkHandle& operator=(const ShellLinkHandle&) = delete;
    ~ShellLinkHandle() override { link_->Release(); }
    IShellLinkA* Get() const { return link_; }

private:
    IShellLinkA* link_;
};

}  // namespace

Os::HandlePtr Win32Os::CreateShellLink() {
    static const auto create = SystemFunctionAs<decltype(&CoCreateInstance)>("ole32.dll", "CoCreateInstance");
    IShellLinkA* link = nullptr;
    HRESULT hr = create ? create(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link))
                        : HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr) || !link) {
        SetLastError(static_cast<DWORD>(hr));  // COM answers in its result: kept where LastError reads
        return nullptr;
    }
    return std::make_unique<ShellLinkHandle>(link);
}

bool Win32Os::SaveShellLink(Handle& handle, const ShellLinkData& data, const std::string& linkPath) {
    IShellLinkA* link = static_cast<ShellLinkHandle&>(handle).Get();
    link->SetPath(data.target.c_str());
    link->SetWorkingDirectory(data.workingDir.c_str());
    link->SetDescription(data.description.c_str());
    link->SetHotkey(0);
    link->SetIconLocation(data.iconPath.c_str(), data.iconIndex);
    IPersistFile* file = nullptr;
    HRESULT hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(hr) || !file) {
        SetLastError(static_cast<DWORD>(hr));
        return false;
    }
    // The caller refuses paths of MAX_PATH or more: a cut path would be another file.
    WCHAR wide[MAX_PATH] = {};
    hr = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    if (linkPath.size() < MAX_PATH && MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH) > 0)
        hr = file->Save(wide, TRUE);
    file->Release();
    // COM answers in its result, not through GetLastError: kept there for LastError.
    SetLastError(static_cast<DWORD>(hr));
    return hr == S_OK;
}

Os::HandlePtr Win32Os::CreateProcess(const ProcessStart& start) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (start.useShowCommand) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = start.showCommand;
    }
    // CreateProcessA may write into the command line.
    std::vector<char> commandLine(start.commandLine.begin(), start.commandLine.end());
    commandLine.resize(commandLine.size() < 1024 ? 1024 : commandLine.size() + 1, 0);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(start.application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, start.currentDir.empty() ? nullptr : start.currentDir.c_str(), &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return std::make_unique<Win32Handle>(Win32Handle::Kind::Process, info.hProcess);
}

bool Win32Os::ProcessEnded(Handle& process) { return WaitForSingleObject(Raw(process), 0) != WAIT_TIMEOUT; }

namespace {

class Win32Thread final : public Os::Thread {
public:
    Win32Thread() = default;
    Win32Thread(const Win32Thread&) = delete;
    Win32Thread& operator=(const Win32Thread&) = delete;
    ~Win32Thread() override { Join(); }
    void Join() override {
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }
    bool IsCurrent() const override { return GetCurrentThreadId() == id_; }

    HANDLE handle_ = nullptr;
    unsigned id_ = 0;
};

unsigned __stdcall RunThreadBody(void* body) {
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return 0;
}

}  // namespace

Os::ThreadPtr Win32Os::StartThread(std::function<void()> body) {
    // Everything the new thread needs is in hand before it starts, so a
    // refusal at any point leaves nothing behind and ends nothing.
    std::unique_ptr<Win32Thread> thread(new (std::nothrow) Win32Thread);
    std::unique_ptr<std::function<void()>> owned(new (std::nothrow) std::function<void()>(std::move(body)));
    if (!thread || !owned) return nullptr;
    // The runtime's own start, not CreateThread's: it sets up the runtime's
    // per-thread data for the thread.
    std::uintptr_t handle = _beginthreadex(nullptr, 0, RunThreadBody, owned.get(), 0, &thread->id_);
    if (handle == 0) return nullptr;
    owned.release();  // the thread owns its body now
    thread->handle_ = reinterpret_cast<HANDLE>(handle);
    return thread;
}

std::string Win32Os::WindowsDirectory() { return SystemFolder(GetWindowsDirectoryA); }
std::string Win32Os::SystemDirectory() { return SystemFolder(GetSystemDirectoryA); }

OsVersion Win32Os::Version() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
    OsVersion v;
    if (!GetVersionExA(&info)) return v;
    v.ok = true;
    v.platformId = info.dwPlatformId;
    v.major = info.dwMajorVersion;
    v.minor = info.dwMinorVersion;
    return v;
}

std::string Win32Os::ModulePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string Win32Os::LoadString(unsigned id) {
    char buffer[4096];
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

int Win32Os::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return MessageBoxA(reinterpret_cast<HWND>(owner_), text.c_str(), caption.c_str(), flags);
}

LocalTime Win32Os::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void Win32Os::Yield() { ::Sleep(0); }

// Read from memory the system shares with every process: no system call.
std::uint32_t Win32Os::TickCount() { return ::GetTickCount(); }
void Win32Os::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

bool Win32Os::RestartComputer(bool enableShutdownPrivilege) {
    if (enableShutdownPrivilege) {
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            TOKEN_PRIVILEGES privileges = {};
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
                AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
            CloseHandle(token);
        }
    }
    return ExitWindowsEx(EWX_REBOOT, 0) != 0;
}

bool Win32Os::DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) {
    // A folder with its backslash, as a share's root must be given.
    std::string path = folder;
    if (path.empty() || path.back() != '\\') path += '\\';
    // Looked up, not imported: the first Windows 95 has only the older call.
    using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    auto ex = reinterpret_cast<FreeSpaceEx>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
    if (ex) {
        ULARGE_INTEGER available, total, free;
        if (!ex(path.c_str(), &available, &total, &free)) return false;
        freeBytes = available.QuadPart;
        return true;
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(path.substr(0, 3).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return false;
    freeBytes = std::uint64_t(sectorsPerCluster) * bytesPerSector * freeClusters;
    return true;
}

Os::HandlePtr Win32Os::CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
    HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
    alreadyExisted = h && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!h) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

bool Win32Os::PostNotify(WindowHandle window, unsigned code) {
    return PostMessageA(reinterpret_cast<HWND>(window), kWmInstallNotify, code, 0) != 0;
}

void Win32Os::SendNotify(WindowHandle window, unsigned code) {
    SendMessageA(reinterpret_cast<HWND>(window), kWmInstallNotify, code, 0);
}

bool Win32Os::WindowExists(WindowHandle window) { return IsWindow(reinterpret_cast<HWND>(window)) != 0; }

void Win32Os::PumpSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool Win32Os::CopyFile(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), TRUE) != 0;
}

Os::HandlePtr Win32Os::HoldFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

std::string Win32Os::LongPathName(const std::string& path) {
    // Looked up by name: systems before Windows 2000 lack it, and then no
    // short name is made long (a line named by one is not proven inside).
    using GetLongPathNameFn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const auto getLong = reinterpret_cast<GetLongPathNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA")));
    if (!getLong) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // no long names to find: the path stands as given
        return {};
    }
    char buffer[MAX_PATH];
    DWORD n = getLong(path.c_str(), buffer, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(buffer, n);
}

SignatureState Win32Os::OwnSignature() {
    // Loaded by its full path in the system folder, at run time: a planted
    // wintrust.dll beside setup.exe is never the one asked, and a setup.exe
    // that vouches for nothing never loads it.
    char folder[MAX_PATH];
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 16) return SignatureState::Unavailable;
    std::string dll = std::string(folder, n) + "\\wintrust.dll";
    HMODULE wintrust = LoadLibraryA(dll.c_str());
    if (!wintrust) return SignatureState::Unavailable;
    using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
    auto verify = reinterpret_cast<WinVerifyTrustFn>(reinterpret_cast<void*>(GetProcAddress(wintrust, "WinVerifyTrust")));
    wchar_t self[32768];
    DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    if (!verify || length == 0 || length >= sizeof self / sizeof self[0]) {
        FreeLibrary(wintrust);
        return SignatureState::Unavailable;
    }
    // WINTRUST_ACTION_GENERIC_VERIFY_V2: Authenticode's policy.
    GUID action = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = self;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    // No network: the answer must not depend on a server being reachable.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    FreeLibrary(wintrust);
    SetLastError(static_cast<DWORD>(result));
    switch (static_cast<unsigned long>(result)) {
    case 0: return SignatureState::Valid;
    case 0x800B0100:  // TRUST_E_NOSIGNATURE
        return SignatureState::Absent;
    // Intact, but signed by someone the system does not trust: whether to
    // trust them is the user's decision, shown when Windows asks for rights.
    case 0x800B0109:  // CERT_E_UNTRUSTEDROOT
    case 0x800B010A:  // CERT_E_CHAINING
    case 0x800B010D:  // CERT_E_UNTRUSTEDTESTROOT
    case 0x800B0101:  // CERT_E_EXPIRED
    case 0x800B0112:  // CERT_E_UNTRUSTEDCA
        return SignatureState::UntrustedChain;
    default: return SignatureState::Invalid;  // TRUST_E_BAD_DIGEST and every other refusal
    }
}

bool Win32Os::CreatePrivateDirectory(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateFolderSddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    BOOL made = CreateDirectoryA(path.c_str(), &attributes);
    LocalFree(descriptor);
    return made != 0;
}

bool Win32Os::RegEnumKey(Handle& key, std::uint32_t index, std::string& name) {
    char buffer[256];
    DWORD size = sizeof buffer;
    if (!Answer(RegEnumKeyExA(static_cast<Win32Handle&>(key).Key(), index, buffer, &size, nullptr, nullptr, nullptr,
                              nullptr)))
        return false;
    name.assign(buffer, size);
    return true;
}

std::uint32_t Win32Os::ProcessId() { return GetCurrentProcessId(); }

Os::HandlePtr Win32Os::OpenProcess(std::uint32_t id) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!h) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::Process, h);
}

bool Win32Os::WaitForProcess(Handle& process, unsigned milliseconds) {
    return WaitForSingleObject(Raw(process), milliseconds) == WAIT_OBJECT_0;
}

Os::HandlePtr Win32Os::CreatePipe(HandlePtr& writeEnd, std::string& writeEndName) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, write = nullptr;
    if (!::CreatePipe(&readEnd, &write, &inherit, 0)) return nullptr;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    writeEnd = std::make_unique<Win32Handle>(Win32Handle::Kind::File, write);
    writeEndName.clear();
    for (auto v = reinterpret_cast<std::uintptr_t>(write); v || writeEndName.empty(); v >>= 4)
        writeEndName.insert(writeEndName.begin(), "0123456789abcdef"[v & 0xF]);
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, readEnd);
}

Os::HandlePtr Win32Os::OpenInheritedHandle(const std::string& name) {
    std::uintptr_t value = 0;
    if (name.empty() || name.size() > 2 * sizeof value) return nullptr;
    for (char c : name) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return nullptr;
        value = value << 4 | static_cast<std::uintptr_t>(digit);
    }
    HANDLE h = reinterpret_cast<HANDLE>(value);
    if (GetFileType(h) != FILE_TYPE_PIPE) return nullptr;  // only the pipe it was given
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

bool Win32Os::Random(void* buffer, std::size_t size) {
    // RtlGenRandom, exported by advapi32 under this name since Windows XP.
    using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (!advapi) advapi = LoadLibraryA("advapi32.dll");
    const auto gen = advapi ? reinterpret_cast<GenRandomFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                            : nullptr;
    return gen && gen(buffer, static_cast<ULONG>(size));
}

void RestrictDllSearchPath() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    // Looked up by name: neither exists on every system the program runs on.
    using SetDefaultDirs = BOOL(WINAPI*)(DWORD);
    using SetDllDir = BOOL(WINAPI*)(LPCSTR);
    if (FARPROC p = GetProcAddress(kernel, "SetDefaultDllDirectories"))
        reinterpret_cast<SetDefaultDirs>(reinterpret_cast<void*>(p))(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    if (FARPROC p = GetProcAddress(kernel, "SetDllDirectoryA"))
        reinterpret_cast<SetDllDir>(reinterpret_cast<void*>(p))("");
}

Os::HandlePtr Win32Os::OpenLogFile(const std::string& path, LogOpen mode) {
    // Written only at its end, so two processes appending never overwrite
    // each other; readable by anyone while the run goes on.
    DWORD share = FILE_SHARE_READ | (mode == LogOpen::Append ? FILE_SHARE_WRITE : 0);
    DWORD disposition = mode == LogOpen::New ? CREATE_NEW : mode == LogOpen::Replace ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Handle>(Win32Handle::Kind::File, h);
}

bool Win32Os::ProcessExitCode(Handle& process, std::uint32_t& code) {
    DWORD value = 0;
    if (!GetExitCodeProcess(Raw(process), &value)) return false;
    code = value;
    return true;
}

std::string Win32Os::ErrorText(std::uint32_t error) {
    char buffer[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                             sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string Win32Os::ToUtf8(const std::string& text) {
    if (text.empty()) return text;
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (chars <= 0) return text;
    std::vector<WCHAR> wide(static_cast<std::size_t>(chars));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), chars);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), chars, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string Win32Os::TempPath() {
    char buffer[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    std::string path(buffer, n);
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

SystemLocale Win32Os::Locale() {
    // GetUserDefaultUILanguage is Windows 2000's; earlier systems' interface
    // speaks the language of their default locale.
    using GetUiLanguageFn = LANGID(WINAPI*)();
    static const auto getUi = reinterpret_cast<GetUiLanguageFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetUserDefaultUILanguage")));
    return {getUi ? getUi() : GetUserDefaultLangID(), GetACP()};
}

}  // namespace cabsetup
