// The real system calls: what ships in setup.exe.
#pragma once

#include "platform/os.h"

namespace cabsetup {

class SystemCodePage final : public CodePage {
public:
    bool IsLeadByte(unsigned char b) const override;
    void ToLower(std::string& text) const override;
};

class Win32Os : public Os {
public:
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
    LocalTime Now() override;
    std::uint32_t TickCount() override;
    void Yield() override;
    void Sleep(unsigned milliseconds) override;
    bool RestartComputer(bool enableShutdownPrivilege) override;
    bool DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) override;
    HandlePtr CreateNamedMutex(const std::string& name, bool& alreadyExisted) override;
    bool PostNotify(WindowHandle window, unsigned code) override;
    void SendNotify(WindowHandle window, unsigned code) override;
    bool WindowExists(WindowHandle window) override;
    void PumpSentMessages() override;
    std::uint32_t LastError() override;
    HandlePtr OpenLogFile(const std::string& path, LogOpen mode) override;
    bool ProcessExitCode(Handle& process, std::uint32_t& code) override;
    std::string ErrorText(std::uint32_t error) override;
    std::string ToUtf8(const std::string& text) override;
    std::string TempPath() override;
    SystemLocale Locale() override;

    // The window that owns the program's message boxes (the wizard once it exists).
    void SetOwnerWindow(WindowHandle owner) { owner_ = owner; }
    WindowHandle OwnerWindow() const { return owner_; }

private:
    SystemCodePage codePage_;
    WindowHandle owner_ = 0;
};

// The security descriptor of CreatePrivateDirectory's folders: full control
// for administrators and the system, for the folder and all it will hold;
// protected, so the parent's entries (a temporary folder's "users may
// create") are not inherited.
constexpr char kPrivateFolderSddl[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Restricts DLL loading to the system folder, so that a DLL planted beside a
// downloaded setup.exe is never loaded. Call before anything else.
void RestrictDllSearchPath();

}  // namespace cabsetup
