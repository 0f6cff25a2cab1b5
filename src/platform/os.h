// The OS seam: the few system operations the program needs, with the Win32
// semantics kept visible. platform/win32 makes the real calls; platform/host
// is a Linux sandbox for tests and tools.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/codepage.h"

namespace cabsetup {

constexpr std::uint32_t kAttrDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::size_t kRegistryReadBuffer = 255;
constexpr std::size_t kSystemFolderBuffer = 255;
// MAX_PATH: a path of this many characters or more is refused by the system.
constexpr std::size_t kMaxPath = 260;

// What FindFirstFileA/FindNextFileA report of one entry.
struct FindData {
    std::uint32_t attributes = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    std::string name;
};

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users, PerformanceData, CurrentConfig, DynData };

constexpr std::uint32_t kAttrReadOnly = 0x01, kAttrHidden = 0x02, kAttrSystem = 0x04, kAttrArchive = 0x20,
                        kAttrReparsePoint = 0x400;

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The window messages the engine exchanges with the wizard.
using WindowHandle = std::uintptr_t;
constexpr unsigned kWmInstallNotify = 0x5BA;  // WM_USER + 442

// The user's interface language (a LANGID) and the ANSI code page.
struct SystemLocale {
    std::uint16_t uiLanguage = 0;
    std::uint32_t codePage = 0;
};

// How the run log's file is opened: a new file only, a file made empty, or
// the end of one that exists (made when it does not).
enum class LogOpen { New, Replace, Append };

struct OsVersion {
    bool ok = false;  // GetVersionExA succeeded
    std::uint32_t platformId = 0, major = 0, minor = 0;
};

// Message box flags and answers, as MessageBoxA takes and returns them.
constexpr unsigned kMbOk = 0x0, kMbIconExclamation = 0x30, kMbIconMask = 0xF0;
constexpr unsigned kMbYesNo = 0x4, kMbIconStop = 0x10, kMbIconQuestion = 0x20, kMbIconInformation = 0x40;
constexpr int kIdOk = 1, kIdYes = 6;

constexpr std::uint32_t kRegDword = 4, kRegSz = 1;
constexpr long kSOk = 0, kSFalse = 1;  // HRESULTs CoInitialize returns on success

// What a shell link (.lnk) points at, as IShellLinkA sets it up.
struct ShellLinkData {
    std::string target, workingDir, description, iconPath;
    int iconIndex = 0;
};

// CreateProcessA's arguments that vary: the rest is fixed (inherit handles,
// NORMAL_PRIORITY_CLASS, the installer's environment).
struct ProcessStart {
    std::string application, commandLine, currentDir;
    bool useShowCommand = false;  // STARTF_USESHOWWINDOW
    std::uint16_t showCommand = 0;
};

// What the system says of the running program's Authenticode signature.
enum class SignatureState {
    Valid,           // intact, and its chain ends in a root the system trusts
    UntrustedChain,  // intact, but the system does not trust who signed it
    Absent,          // the program carries no signature
    Invalid,         // present, but the program's bytes or the signature do not match
    Unavailable,     // the system could not be asked
};

class Os {
public:
    class Handle {
    public:
        virtual ~Handle() = default;
    };
    using HandlePtr = std::unique_ptr<Handle>;
    // A thread of this process. Destroying one that has not been joined waits for it.
    class Thread {
    public:
        virtual ~Thread() = default;
        virtual void Join() = 0;
        // Whether the calling thread is this one (a thread never waits for itself).
        virtual bool IsCurrent() const = 0;
    };
    using ThreadPtr = std::unique_ptr<Thread>;

    virtual ~Os() = default;

    virtual const CodePage& Mbcs() const = 0;

    // Files. OpenRead opens an existing file for reading with no sharing.
    virtual HandlePtr OpenRead(const std::string& path) = 0;
    // CREATE_ALWAYS: creates or empties the file.
    virtual HandlePtr CreateAlways(const std::string& path) = 0;
    // CREATE_ALWAYS of a hidden file, written beside its destination and
    // then moved there by PutInPlace.
    virtual HandlePtr CreateHidden(const std::string& path) = 0;
    // Closes a file made by CreateHidden, gives it the attributes of a new
    // file (archive) and renames it to `to`, which must not exist: through
    // the open handle where the system can, which saves opening it twice.
    virtual bool PutInPlace(HandlePtr file, const std::string& from, const std::string& to) = 0;
    virtual bool FileSize(Handle& file, std::uint64_t& size) = 0;
    // Reads up to size bytes; false on a read error, got = bytes delivered.
    virtual bool Read(Handle& file, void* buffer, std::size_t size, std::size_t& got) = 0;
    virtual bool Write(Handle& file, const void* data, std::size_t size) = 0;
    // SetFilePointer: to `offset` from the start, or by `offset` from here.
    virtual bool Seek(Handle& file, std::int64_t offset, bool fromCurrent) = 0;

    virtual bool DeleteFile(const std::string& path) = 0;
    virtual bool MoveFile(const std::string& from, const std::string& to) = 0;  // fails when `to` exists
    virtual bool GetAttributes(const std::string& path, std::uint32_t& attributes) = 0;
    virtual bool SetAttributes(const std::string& path, std::uint32_t attributes) = 0;
    // Whether the file could be deleted now: not read-only, and it opens
    // with delete and write access and no sharing (no other program holds it
    // open, runs it or has it loaded as a library).
    virtual bool CanDeleteNow(const std::string& path) = 0;
    // MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT: the file goes when the system next starts.
    virtual bool DeleteAtRestart(const std::string& path) = 0;
    // Unpacks every file of a cabinet to `target` (SetupIterateCabinetA).
    virtual bool ExtractCabinet(const std::string& cabinet, const std::string& target) = 0;
    // CopyFileA; fails when `to` exists.
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
    // Opens an existing file for reading and shares it for reading only:
    // while the handle is open nobody can write, rename or delete the file.
    virtual HandlePtr HoldFile(const std::string& path) = 0;
    // GetLongPathNameA: the path with every short (8.3) name made long, as
    // the system resolves it; "" when a part of it does not exist.
    virtual std::string LongPathName(const std::string& path) = 0;

    // Folders and folder search.
    virtual bool CreateDirectory(const std::string& path) = 0;  // result as CreateDirectoryA's
    // CreateDirectoryA with a security descriptor that lets in only
    // administrators and the system (nothing inherited from the parent);
    // fails when the folder exists.
    virtual bool CreatePrivateDirectory(const std::string& path) = 0;
    virtual bool RemoveDirectory(const std::string& path) = 0;
    virtual HandlePtr FindFirst(const std::string& pattern, FindData& out) = 0;  // null: no match
    // GetFileAttributesExA: one named file's or folder's attributes and size
    // (no wildcards), without the directory search FindFirst makes.
    virtual bool FileInfo(const std::string& path, FindData& out) = 0;
    virtual bool FindNext(Handle& search, FindData& out) = 0;

    // Registry.
    virtual HandlePtr RegOpenKey(RegRoot root, const std::string& subkey, std::uint32_t access) = 0;
    // RegQueryValueExA into a buffer of `size` bytes; false when absent or too long.
    virtual bool RegQueryValue(Handle& key, const std::string& valueName, void* buffer, std::size_t& size) = 0;

    // RegCreateKeyExA: non-volatile, KEY_ALL_ACCESS; null when it fails.
    virtual HandlePtr RegCreateKey(RegRoot root, const std::string& subkey) = 0;
    virtual bool RegSetValue(Handle& key, const std::string& valueName, std::uint32_t type, const void* data,
                             std::size_t size) = 0;
    virtual bool RegDeleteValue(Handle& key, const std::string& valueName) = 0;
    // RegQueryInfoKeyA: the key holds no subkey and no value. False also
    // when it cannot be asked: LastError is then the reason, 0 when it was
    // answered (the key is not empty).
    virtual bool RegKeyIsEmpty(Handle& key) = 0;
    // RegDeleteKeyA: fails while the key has subkeys.
    virtual bool RegDeleteKey(RegRoot root, const std::string& subkey) = 0;
    // RegEnumKeyExA: the name of the key's index-th subkey; false past the last.
    virtual bool RegEnumKey(Handle& key, std::uint32_t index, std::string& name) = 0;

    // COM and shell links. CoInitialize(NULL) on the calling thread: S_OK,
    // S_FALSE when COM was already initialised there, or a failure.
    virtual long CoInitialize() = 0;
    // CoCreateInstance of the shell link object (IShellLinkA); null when it fails.
    virtual HandlePtr CreateShellLink() = 0;
    // Sets the link up (no hot key, no arguments) and saves it through
    // IPersistFile::Save; true only when Save returned S_OK.
    virtual bool SaveShellLink(Handle& link, const ShellLinkData& data, const std::string& linkPath) = 0;

    // Processes. The thread handle is closed at once; the handle returned is
    // the process's, null when CreateProcessA failed.
    virtual HandlePtr CreateProcess(const ProcessStart& start) = 0;
    // The process has ended, or its state cannot be read (the wait ends then
    // too). Asks the handle, not the exit code: a program may exit with 259.
    virtual bool ProcessEnded(Handle& process) = 0;
    // The running process's id; another process opened only to wait for its
    // end (null when it is gone); the wait, true when it ended in time.
    virtual std::uint32_t ProcessId() = 0;
    virtual HandlePtr OpenProcess(std::uint32_t id) = 0;
    virtual bool WaitForProcess(Handle& process, unsigned milliseconds) = 0;
    // An anonymous pipe: the read end is returned; the write end is
    // inherited by the programs started while it is open, which find it by
    // `writeEndName` (OpenInheritedHandle). Null when it cannot be made.
    virtual HandlePtr CreatePipe(HandlePtr& writeEnd, std::string& writeEndName) = 0;
    virtual HandlePtr OpenInheritedHandle(const std::string& name) = 0;

    // Runs `body` on a new thread (CreateThread, through the runtime's
    // _beginthreadex); null when the system refuses one, which callers
    // handle as a failed step, never as the program's end.
    virtual ThreadPtr StartThread(std::function<void()> body) = 0;

    // System.
    virtual std::string WindowsDirectory() = 0;  // GetWindowsDirectoryA, 255-char buffer
    virtual std::string SystemDirectory() = 0;   // GetSystemDirectoryA, 255-char buffer
    virtual OsVersion Version() = 0;             // GetVersionExA
    virtual std::string ModulePath() = 0;        // the running program's full path
    virtual std::string LoadString(unsigned id) = 0;  // "" when the id is missing
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    virtual LocalTime Now() = 0;
    // Milliseconds on a clock that only moves on (GetTickCount): for rates
    // and intervals, never for dates. Wraps after 49 days; compare differences.
    virtual std::uint32_t TickCount() = 0;
    // Bytes from the system's random generator: names nobody can guess.
    virtual bool Random(void* buffer, std::size_t size) = 0;
    virtual void Yield() = 0;  // gives the processor away; no fixed pause
    virtual void Sleep(unsigned milliseconds) = 0;
    // Restarts the computer (ExitWindowsEx); first enables the shutdown
    // privilege when asked to. True when the system has begun the restart.
    virtual bool RestartComputer(bool enableShutdownPrivilege) = 0;
    // GetDiskFreeSpaceExA: the bytes the caller may still write on the
    // volume that holds `folder`, which must exist.
    virtual bool DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) = 0;
    // CreateMutexA, not owned: a named object the process holds while it
    // runs. `alreadyExisted`: another process had made it first. Null when
    // it could not be made at all.
    virtual HandlePtr CreateNamedMutex(const std::string& name, bool& alreadyExisted) = 0;

    // WM_INSTALL_NOTIFY to the wizard: posted (returns at once) or sent
    // (returns when the wizard's thread has handled it).
    virtual bool PostNotify(WindowHandle window, unsigned code) = 0;
    virtual void SendNotify(WindowHandle window, unsigned code) = 0;
    virtual bool WindowExists(WindowHandle window) = 0;  // IsWindow
    // Handles messages other threads have sent to this one (a thread that
    // waits for the worker must still answer the worker's question).
    virtual void PumpSentMessages() = 0;

    // WinVerifyTrust of the running program's own file, through wintrust.dll
    // loaded from the system folder when it is first needed. LastError
    // afterwards: WinVerifyTrust's own answer (an HRESULT), for the record.
    virtual SignatureState OwnSignature() = 0;

    // GetLastError: why this thread's last failed call failed.
    virtual std::uint32_t LastError() = 0;

    // The run log. Its file is written only at its end (FILE_APPEND_DATA)
    // and shared for reading, and for writing too with LogOpen::Append: the
    // uninstaller's copy writes into the log its first process began.
    virtual HandlePtr OpenLogFile(const std::string& path, LogOpen mode) = 0;
    // GetExitCodeProcess of a process that has ended; false when unreadable.
    virtual bool ProcessExitCode(Handle& process, std::uint32_t& code) = 0;
    // FormatMessageA: the system's text for an error number, without its
    // line end; "" when the system has none.
    virtual std::string ErrorText(std::uint32_t error) = 0;
    // An ANSI text of the system's code page, in UTF-8.
    virtual std::string ToUtf8(const std::string& text) = 0;
    // GetTempPathA without its trailing backslash: the user's %TEMP%.
    virtual std::string TempPath() = 0;
    virtual SystemLocale Locale() = 0;
};

// A failed lookup that proves the file, folder or key absent, as opposed to
// one that could not tell (access denied, a device error): only the first
// may be treated as "not there".
constexpr std::uint32_t kErrorFileNotFound = 2, kErrorPathNotFound = 3, kErrorAccessDenied = 5;
inline bool ProvenAbsent(Os& os) {
    std::uint32_t e = os.LastError();
    return e == kErrorFileNotFound || e == kErrorPathNotFound;
}

}  // namespace cabsetup
