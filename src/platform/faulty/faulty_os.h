// Fault injection for any Os, in the manner of SQLite's test VFS: wraps the
// host sandbox or the real Win32 side and makes chosen calls fail as the
// system would report it, or run a hook first (a slow disk, a race forced
// into one order). Tests sweep it: count the calls of a clean run, then
// fail each one in turn and check what must always hold.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/os.h"

namespace cabsetup {

// One kind per operation of Os that can fail; named as the operation.
enum class OsOp {
    OpenRead, CreateAlways, CreateHidden, PutInPlace, FileSize, Read, Write, Seek,
    DeleteFile, MoveFile, GetAttributes, SetAttributes, CanDeleteNow, DeleteAtRestart, ExtractCabinet,
    CreateDirectory, RemoveDirectory, FindFirst, FileInfo, FindNext,
    RegOpenKey, RegQueryValue, RegCreateKey, RegSetValue, RegDeleteValue, RegKeyIsEmpty, RegDeleteKey,
    CoInitialize, CreateShellLink, SaveShellLink, CreateProcess, ProcessEnded,
    PostNotify, WindowExists, MessageBox, StartThread,
    CopyFile, HoldFile, CreatePrivateDirectory, RegEnumKey, OpenProcess, WaitForProcess, CreatePipe,
    OpenInheritedHandle, Random, LongPathName,
    DiskFreeSpace, CreateNamedMutex, OwnSignature, OpenLogFile,
    // Queries whose failure is an empty or zero answer; never counted by
    // FailNthOfAny, failed only by name.
    WindowsDirectory, SystemDirectory, Version, ModulePath, LoadString, ProcessId, ProcessExitCode, TempPath,
    Count
};
constexpr int kOsOpCount = static_cast<int>(OsOp::Count);
// The kinds FailNthOfAny counts: every operation that reports failure.
constexpr bool CountsAsAny(OsOp op) { return op < OsOp::WindowsDirectory; }
const char* OsOpName(OsOp op);

class FaultyOs : public Os {
public:
    static constexpr int kFromThenOn = -1;

    explicit FaultyOs(Os& inner) : inner_(inner) {}
    Os& Inner() { return inner_; }

    // The nth call of op (1-based, counted from now) fails, and `count`
    // calls from there on (kFromThenOn: every later one). nth 0 clears it.
    void FailNth(OsOp op, int nth, int count = 1);
    // The nth call of any operation that can fail, counted from now.
    void FailNthOfAny(int nth, int count = 1);
    // No more faults; the counts start again from zero.
    void Reset();
    // Calls since the last FailNth of that kind (or Reset, or the start).
    int Calls(OsOp op);
    // Calls of every kind FailNthOfAny counts, since the last FailNthOfAny or Reset.
    int CallsOfAny();
    // How many calls have been failed, and the first of them.
    int Injected();
    std::optional<OsOp> FirstFailed();
    // Runs before every call of op, on the calling thread, without any lock
    // held: a slow disk, or a point where a test lets the other thread on.
    void SetHook(OsOp op, std::function<void()> hook);

    const CodePage& Mbcs() const override { return inner_.Mbcs(); }
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
    SignatureState OwnSignature() override;
    bool CreatePrivateDirectory(const std::string& path) override;
    bool RegEnumKey(Handle& key, std::uint32_t index, std::string& name) override;
    std::uint32_t ProcessId() override;
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
    std::string WindowsDirectory() override;
    std::string SystemDirectory() override;
    OsVersion Version() override;
    std::string ModulePath() override;
    std::string LoadString(unsigned id) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    LocalTime Now() override { return inner_.Now(); }
    // A clock cannot fail; tests that need time under their control set the host's.
    std::uint32_t TickCount() override { return inner_.TickCount(); }
    void Yield() override { inner_.Yield(); }
    void Sleep(unsigned milliseconds) override { inner_.Sleep(milliseconds); }
    bool RestartComputer(bool enableShutdownPrivilege) override { return inner_.RestartComputer(enableShutdownPrivilege); }
    bool DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) override;
    HandlePtr CreateNamedMutex(const std::string& name, bool& alreadyExisted) override;
    bool PostNotify(WindowHandle window, unsigned code) override;
    void SendNotify(WindowHandle window, unsigned code) override { inner_.SendNotify(window, code); }
    bool WindowExists(WindowHandle window) override;
    void PumpSentMessages() override { inner_.PumpSentMessages(); }
    // The error of an injected failure (access denied: it proves nothing
    // absent), else the wrapped system's.
    std::uint32_t LastError() override;
    HandlePtr OpenLogFile(const std::string& path, LogOpen mode) override;
    bool ProcessExitCode(Handle& process, std::uint32_t& code) override;
    std::string ErrorText(std::uint32_t error) override { return inner_.ErrorText(error); }
    std::string ToUtf8(const std::string& text) override { return inner_.ToUtf8(text); }
    std::string TempPath() override;
    SystemLocale Locale() override { return inner_.Locale(); }

private:
    struct Plan {
        int nth = 0, count = 0, calls = 0;
    };
    // Counts the call, runs its hook; true when this call is to fail.
    bool Fails(OsOp op);
    static bool Due(Plan& plan);

    Os& inner_;
    std::mutex mutex_;  // the engine's worker, its writer and a test's thread all call in
    std::array<Plan, kOsOpCount> byKind_{};
    Plan any_;
    std::array<std::function<void()>, kOsOpCount> hooks_{};
    int injected_ = 0;
    std::optional<OsOp> firstFailed_;
};

}  // namespace cabsetup
