// A Linux stand-in for the system, for tests and tools: drive paths X:\a\b
// live under a sandbox folder, the registry is in memory, message boxes are
// recorded. FaultyOs makes its calls fail.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace cabsetup {

struct RecordedLink {
    std::string path;
    ShellLinkData data;
};

struct RecordedProcess {
    ProcessStart start;
    int pollsLeft = 0;  // ProcessEnded answers false this many times
    std::uint32_t exitCode = 0;
};

struct RecordedMessage {
    std::string text, caption;
    unsigned flags = 0;
};

class HostOs : public Os {
public:
    // sandbox: the Linux folder that holds one subfolder per drive letter.
    explicit HostOs(std::filesystem::path sandbox, int codePage = 1252);

    // Where a Windows path lives on this machine ("C:\a" -> sandbox/C/a, or
    // into the folder a drive is mapped to; relative paths are taken from the
    // current folder).
    std::filesystem::path HostPath(const std::string& windowsPath) const;

    // Test controls.
    // Drive letter -> any folder of this machine, instead of sandbox/<letter>.
    void MapDrive(char letter, std::filesystem::path folder);
    void SetCodePage(int codePage) { codePage_ = TableCodePage(codePage); }
    void SetCurrentDirectory(const std::string& windowsPath) { currentDir_ = windowsPath; }
    void SetModulePath(const std::string& windowsPath) { modulePath_ = windowsPath; }
    void SetWindowsDirectory(const std::string& w) { windowsDir_ = w; }
    void SetSystemDirectory(const std::string& s) { systemDir_ = s; }
    void SetVersion(const OsVersion& v) { version_ = v; }
    void SetKorean(bool korean) { korean_ = korean; }
    void SetRegistryString(RegRoot root, const std::string& subkey, const std::string& name, const std::string& text);
    void SetRegistryBytes(RegRoot root, const std::string& subkey, const std::string& name,
                          const std::vector<unsigned char>& bytes);
    // The key exists but may only be opened for reading.
    void DenyFullAccess(RegRoot root, const std::string& subkey);
    // Unpacking leaves a file one byte short and reports success, as a
    // cabinet reader that misses a truncation would.
    void SetShortUnpack(bool shortUnpack) { shortUnpack_ = shortUnpack; }
    // Another program holds the file open: it can be neither deleted nor moved.
    void SetInUse(const std::string& windowsPath, bool inUse);
    // A running program's image (or a loaded library): it can be renamed,
    // and the mark goes with it, but neither deleted nor opened for writing.
    void SetRunning(const std::string& windowsPath, bool running);
    bool KeyExists(RegRoot root, const std::string& subkey) const;
    // Files DeleteAtRestart was asked to delete, as given.
    const std::vector<std::string>& RestartDeletes() const { return restartDeletes_; }
    void ForgetRestartDeletes() { restartDeletes_.clear(); }
    void SetTime(const LocalTime& t) { now_ = t; }
    // The millisecond clock under a test's control (null: the real one).
    void SetClock(std::function<std::uint32_t()> clock) { clock_ = std::move(clock); }
    // Files in memory instead of on disk: opening, creating and deleting
    // files then touch only what PutFile stored (for fuzzers, which must not
    // write a file per input). Folders and searches still use the sandbox.
    void UseMemoryFiles() { memoryFiles_ = true; }
    void PutFile(const std::string& windowsPath, const void* data, std::size_t size);
    // The wizard's side of WM_INSTALL_NOTIFY: called on the posting or
    // sending thread with the code.
    void SetNotifySink(std::function<void(WindowHandle, unsigned, bool sent)> sink) { sink_ = std::move(sink); }
    // The wizard's window has been destroyed: posts fail and it no longer exists.
    void SetWindowGone(bool gone) { windowGone_ = gone; }
    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    // A value as RegSetValue stored it; false when absent.
    bool RegistryValue(RegRoot root, const std::string& subkey, const std::string& name, std::uint32_t& type,
                       std::vector<unsigned char>& data) const;
    bool RegistryKeyExists(RegRoot root, const std::string& subkey) const { return registry_.count(KeyName(root, subkey)); }
    // The whole registry: "<key>\\" for every key, "<key>\\<value name>" for
    // every value (names lower-cased), each with its type and bytes.
    std::map<std::string, std::pair<std::uint32_t, std::vector<unsigned char>>> RegistryContents() const;
    // Saved links (also written as small files at their paths) and started
    // programs, in the order they happened.
    const std::vector<RecordedLink>& Links() const { return links_; }
    const std::vector<RecordedProcess>& Processes() const { return processes_; }
    // Every later program runs for this many ProcessEnded polls.
    void SetProcessPolls(int polls) { processPolls_ = polls; }
    // Every later program ends with this exit code.
    void SetProcessExitCode(std::uint32_t code) { processExitCode_ = code; }
    // The user's %TEMP%, as TempPath answers it.
    void SetTempPath(const std::string& windowsPath) { tempPath_ = windowsPath; }
    // COM already initialised on the thread (CoInitialize answers S_FALSE) or not.
    void SetComInitialised(bool initialised) { coInitializeCalls_ = initialised ? 1 : 0; }
    // A short (8.3) name: the full short path and the long one it stands for
    // ("C:\PROGRA~1", "C:\Program Files"). Every operation then finds the
    // long entry by the short name, and LongPathName makes it long.
    void SetShortName(const std::string& shortPath, const std::string& longPath);
    // Folders CreatePrivateDirectory made, as given.
    const std::set<std::string>& PrivateFolders() const { return privateFolders_; }
    // Whether a HoldFile handle on the path is open.
    bool IsHeld(const std::string& windowsPath);
    // Called inside CreateProcess, after the start succeeded, as the started
    // program would run (the uninstaller's copy, run by the test).
    void SetProcessRunner(std::function<void(const ProcessStart&)> runner) { runner_ = std::move(runner); }
    void SetProcessId(std::uint32_t id) { processId_ = id; }
    // Whether a process waited for (WaitForProcess) ends in time.
    void SetWaitedProcessEnds(bool ends) { waitedProcessEnds_ = ends; }
    // The free space DiskFreeSpace reports for a drive letter's folders,
    // instead of what the sandbox's own file system has.
    void SetFreeSpace(char drive, std::uint64_t bytes) { freeSpace_[drive & ~0x20] = bytes; }
    int Restarts() const { return restarts_; }
    void SetRestartRefused(bool refuse) { refuseRestart_ = refuse; }
    // Named mutexes held now, by name, with how many handles each has.
    const std::map<std::string, int>& Mutexes() const { return *mutexes_; }

    const CodePage& Mbcs() const override { return codePage_; }
    HandlePtr OpenRead(const std::string& path) override;
    HandlePtr CreateAlways(const std::string& path) override;
    HandlePtr CreateHidden(const std::string& path) override;
    bool PutInPlace(HandlePtr file, const std::string& from, const std::string& to) override;
    bool FileSize(Handle& file, std::uint64_t& size) override;
    bool Read(Handle& file, void* buffer, std::size_t size, std::size_t& got) override;
    bool Write(Handle& file, const void* data, std::size_t size) override;
    bool Seek(Handle& file, std::int64_t offset, bool fromCurrent) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;
    bool GetAttributes(const std::string& path, std::uint32_t& attributes) override;
    bool SetAttributes(const std::string& path, std::uint32_t attributes) override;
    bool CanDeleteNow(const std::string& path) override;
    bool DeleteAtRestart(const std::string& path) override;
    bool ExtractCabinet(const std::string& cabinet, const std::string& target) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    HandlePtr HoldFile(const std::string& path) override;
    std::string LongPathName(const std::string& path) override;
    SignatureState OwnSignature() override { return ownSignature_; }
    // What OwnSignature answers (Valid unless a test says otherwise).
    void SetOwnSignature(SignatureState state) { ownSignature_ = state; }
    bool CreatePrivateDirectory(const std::string& path) override;
    bool RegEnumKey(Handle& key, std::uint32_t index, std::string& name) override;
    std::uint32_t ProcessId() override { return processId_; }
    HandlePtr OpenProcess(std::uint32_t id) override;
    bool WaitForProcess(Handle& process, unsigned milliseconds) override;
    HandlePtr CreatePipe(HandlePtr& writeEnd, std::string& writeEndName) override;
    HandlePtr OpenInheritedHandle(const std::string& name) override;
    bool Random(void* buffer, std::size_t size) override;
    bool CreateDirectory(const std::string& path) override;
    bool RemoveDirectory(const std::string& path) override;
    HandlePtr FindFirst(const std::string& pattern, FindData& out) override;
    bool FileInfo(const std::string& path, FindData& out) override;
    bool FindNext(Handle& search, FindData& out) override;
    HandlePtr RegOpenKey(RegRoot root, const std::string& subkey, std::uint32_t access) override;
    bool RegQueryValue(Handle& key, const std::string& valueName, void* buffer, std::size_t& size) override;
    HandlePtr RegCreateKey(RegRoot root, const std::string& subkey) override;
    bool RegSetValue(Handle& key, const std::string& valueName, std::uint32_t type, const void* data,
                     std::size_t size) override;
    bool RegDeleteValue(Handle& key, const std::string& valueName) override;
    bool RegKeyIsEmpty(Handle& key) override;
    bool RegDeleteKey(RegRoot root, const std::string& subkey) override;
    long CoInitialize() override;
    HandlePtr CreateShellLink() override;
    bool SaveShellLink(Handle& link, const ShellLinkData& data, const std::string& linkPath) override;
    HandlePtr CreateProcess(const ProcessStart& start) override;
    bool ProcessEnded(Handle& process) override;
    ThreadPtr StartThread(std::function<void()> body) override;
    std::string WindowsDirectory() override { return windowsDir_; }
    std::string SystemDirectory() override { return systemDir_; }
    OsVersion Version() override { return version_; }
    std::string ModulePath() override { return modulePath_; }
    std::string LoadString(unsigned id) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    LocalTime Now() override { return now_; }
    std::uint32_t TickCount() override;
    void Yield() override;
    void Sleep(unsigned) override {}
    // Recorded, never carried out; `refuse` makes the system decline it.
    bool RestartComputer(bool) override {
        ++restarts_;
        return !refuseRestart_;
    }
    bool DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) override;
    HandlePtr CreateNamedMutex(const std::string& name, bool& alreadyExisted) override;
    bool PostNotify(WindowHandle window, unsigned code) override;
    void SendNotify(WindowHandle window, unsigned code) override;
    bool WindowExists(WindowHandle) override { return !windowGone_; }
    void PumpSentMessages() override {}
    std::uint32_t LastError() override;
    HandlePtr OpenLogFile(const std::string& path, LogOpen mode) override;
    bool ProcessExitCode(Handle& process, std::uint32_t& code) override;
    // A fixed English text for the errors the sandbox reports, as the
    // system's would read; the number alone for others.
    std::string ErrorText(std::uint32_t error) override;
    std::string ToUtf8(const std::string& text) override;
    std::string TempPath() override { return tempPath_; }
    SystemLocale Locale() override;

private:
    struct Key {
        std::map<std::string, std::vector<unsigned char>> values;  // by lower-cased name
        std::map<std::string, std::uint32_t> types;
        bool fullAccessDenied = false;
    };
    bool HasSubkeys(const std::string& keyName) const;
    // As the system's ANSI calls: a path of MAX_PATH characters or more fails.
    static bool TooLong(const std::string& path) { return path.size() >= kMaxPath; }
    std::string PathKey(const std::string& windowsPath) const { return HostPath(windowsPath).string(); }
    // The path with a short name's prefix replaced by the long path.
    std::string Lengthen(const std::string& windowsPath) const;
    static std::string KeyName(RegRoot root, const std::string& subkey);

    std::filesystem::path sandbox_;
    std::map<char, std::filesystem::path> drives_;
    TableCodePage codePage_;
    std::string currentDir_ = "C:\\work";
    std::string modulePath_ = "C:\\setup\\setup.exe";
    std::string windowsDir_ = "C:\\WINDOWS";
    std::string systemDir_ = "C:\\WINDOWS\\system32";
    OsVersion version_{true, 2, 5, 1};
    bool korean_ = false;
    std::map<std::string, Key> registry_;
    bool shortUnpack_ = false;
    bool memoryFiles_ = false;
    std::map<std::string, std::shared_ptr<std::vector<unsigned char>>> memory_;  // by host path
    // The file operations: the engine's writer thread and its worker both call in.
    std::recursive_mutex filesMutex_;
    std::set<std::string> inUse_, running_;
    std::vector<std::string> restartDeletes_;
    // Read-only, hidden, system and archive, by host path; none kept: NORMAL.
    std::map<std::string, std::uint32_t> attributes_;
    std::uint32_t AttributesOf(const std::string& key, bool folder) const;
    LocalTime now_{2026, 12, 7, 9, 30, 5};
    std::function<std::uint32_t()> clock_;
    std::function<void(WindowHandle, unsigned, bool)> sink_;
    std::vector<RecordedMessage> messages_;
    std::vector<RecordedLink> links_;
    std::vector<RecordedProcess> processes_;
    int processPolls_ = 0, coInitializeCalls_ = 0;
    std::uint32_t processExitCode_ = 0;
    std::string tempPath_ = "C:\\TEMP";
    std::atomic<bool> windowGone_{false};
    std::vector<std::pair<std::string, std::string>> shortNames_;  // lower-cased short path, long path
    std::set<std::string> privateFolders_;
    SignatureState ownSignature_ = SignatureState::Valid;
    std::map<std::string, int> held_;  // by host path: open HoldFile handles
    std::function<void(const ProcessStart&)> runner_;
    std::uint32_t processId_ = 4242;
    bool waitedProcessEnds_ = true;
    std::uint64_t random_ = 0x9E3779B97F4A7C15ull;
    std::map<char, std::uint64_t> freeSpace_;
    int restarts_ = 0;
    bool refuseRestart_ = false;
    std::shared_ptr<std::map<std::string, int>> mutexes_ = std::make_shared<std::map<std::string, int>>();
};

}  // namespace cabsetup
