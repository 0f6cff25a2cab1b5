#include "platform/faulty/faulty_os.h"

namespace cabsetup {

namespace {
thread_local std::uint32_t injectedError = 0;  // of this thread's last call, when it was failed here
constexpr long kEFail = static_cast<std::int32_t>(0x80004005u);  // negative wherever long is wider
}

const char* OsOpName(OsOp op) {
    static const char* const kNames[kOsOpCount] = {
        "OpenRead", "CreateAlways", "CreateHidden", "PutInPlace", "FileSize", "Read", "Write", "Seek",
        "DeleteFile", "MoveFile", "GetAttributes", "SetAttributes", "CanDeleteNow", "DeleteAtRestart",
        "ExtractCabinet", "CreateDirectory", "RemoveDirectory", "FindFirst", "FileInfo", "FindNext",
        "RegOpenKey", "RegQueryValue", "RegCreateKey", "RegSetValue", "RegDeleteValue", "RegKeyIsEmpty",
        "RegDeleteKey", "CoInitialize", "CreateShellLink", "SaveShellLink", "CreateProcess", "ProcessEnded",
        "PostNotify", "WindowExists", "MessageBox", "StartThread", "CopyFile", "HoldFile", "CreatePrivateDirectory",
        "RegEnumKey", "OpenProcess", "WaitForProcess", "CreatePipe", "OpenInheritedHandle", "Random", "LongPathName",
        "DiskFreeSpace", "CreateNamedMutex", "OwnSignature", "OpenLogFile",
        "WindowsDirectory", "SystemDirectory", "Version", "ModulePath", "LoadString", "ProcessId", "ProcessExitCode", "TempPath"};
    int i = static_cast<int>(op);
    return i >= 0 && i < kOsOpCount ? kNames[i] : "?";
}

void FaultyOs::FailNth(OsOp op, int nth, int count) {
    std::lock_guard lock(mutex_);
    byKind_[static_cast<int>(op)] = Plan{nth, count, 0};
}

void FaultyOs::FailNthOfAny(int nth, int count) {
    std::lock_guard lock(mutex_);
    any_ = Plan{nth, count, 0};
}

void FaultyOs::Reset() {
    std::lock_guard lock(mutex_);
    byKind_ = {};
    any_ = {};
    injected_ = 0;
    firstFailed_.reset();
}

int FaultyOs::Calls(OsOp op) {
    std::lock_guard lock(mutex_);
    return byKind_[static_cast<int>(op)].calls;
}

int FaultyOs::CallsOfAny() {
    std::lock_guard lock(mutex_);
    return any_.calls;
}

int FaultyOs::Injected() {
    std::lock_guard lock(mutex_);
    return injected_;
}

std::optional<OsOp> FaultyOs::FirstFailed() {
    std::lock_guard lock(mutex_);
    return firstFailed_;
}

void FaultyOs::SetHook(OsOp op, std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    hooks_[static_cast<int>(op)] = std::move(hook);
}

bool FaultyOs::Due(Plan& plan) {
    int call = ++plan.calls;
    if (plan.nth <= 0 || call < plan.nth) return false;
    return plan.count == kFromThenOn || call < plan.nth + plan.count;
}

bool FaultyOs::Fails(OsOp op) {
    std::function<void()> hook;
    bool fails;
    {
        std::lock_guard lock(mutex_);
        hook = hooks_[static_cast<int>(op)];
        fails = Due(byKind_[static_cast<int>(op)]);
        if (CountsAsAny(op)) fails = Due(any_) || fails;
        if (fails) {
            ++injected_;
            if (!firstFailed_) firstFailed_ = op;
        }
    }
    if (hook) hook();
    injectedError = fails ? kErrorAccessDenied : 0;
    return fails;
}

std::uint32_t FaultyOs::LastError() { return injectedError ? injectedError : inner_.LastError(); }

Os::HandlePtr FaultyOs::OpenRead(const std::string& path) {
    return Fails(OsOp::OpenRead) ? nullptr : inner_.OpenRead(path);
}
Os::HandlePtr FaultyOs::CreateAlways(const std::string& path) {
    return Fails(OsOp::CreateAlways) ? nullptr : inner_.CreateAlways(path);
}
Os::HandlePtr FaultyOs::CreateHidden(const std::string& path) {
    return Fails(OsOp::CreateHidden) ? nullptr : inner_.CreateHidden(path);
}
bool FaultyOs::PutInPlace(HandlePtr file, const std::string& from, const std::string& to) {
    // A refused rename still closes the file: the caller has handed it over.
    if (Fails(OsOp::PutInPlace)) return false;
    return inner_.PutInPlace(std::move(file), from, to);
}
bool FaultyOs::FileSize(Handle& file, std::uint64_t& size) {
    return !Fails(OsOp::FileSize) && inner_.FileSize(file, size);
}
bool FaultyOs::Read(Handle& file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    return !Fails(OsOp::Read) && inner_.Read(file, buffer, size, got);
}
bool FaultyOs::Write(Handle& file, const void* data, std::size_t size) {
    return !Fails(OsOp::Write) && inner_.Write(file, data, size);
}
bool FaultyOs::Seek(Handle& file, std::int64_t offset, bool fromCurrent) {
    return !Fails(OsOp::Seek) && inner_.Seek(file, offset, fromCurrent);
}
bool FaultyOs::DeleteFile(const std::string& path) { return !Fails(OsOp::DeleteFile) && inner_.DeleteFile(path); }
bool FaultyOs::MoveFile(const std::string& from, const std::string& to) {
    return !Fails(OsOp::MoveFile) && inner_.MoveFile(from, to);
}
bool FaultyOs::GetAttributes(const std::string& path, std::uint32_t& attributes) {
    return !Fails(OsOp::GetAttributes) && inner_.GetAttributes(path, attributes);
}
bool FaultyOs::SetAttributes(const std::string& path, std::uint32_t attributes) {
    return !Fails(OsOp::SetAttributes) && inner_.SetAttributes(path, attributes);
}
bool FaultyOs::CanDeleteNow(const std::string& path) {
    return !Fails(OsOp::CanDeleteNow) && inner_.CanDeleteNow(path);
}
bool FaultyOs::DiskFreeSpace(const std::string& folder, std::uint64_t& freeBytes) {
    return !Fails(OsOp::DiskFreeSpace) && inner_.DiskFreeSpace(folder, freeBytes);
}

Os::HandlePtr FaultyOs::CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
    alreadyExisted = false;
    if (Fails(OsOp::CreateNamedMutex)) return nullptr;
    return inner_.CreateNamedMutex(name, alreadyExisted);
}

bool FaultyOs::DeleteAtRestart(const std::string& path) {
    return !Fails(OsOp::DeleteAtRestart) && inner_.DeleteAtRestart(path);
}
bool FaultyOs::ExtractCabinet(const std::string& cabinet, const std::string& target) {
    return !Fails(OsOp::ExtractCabinet) && inner_.ExtractCabinet(cabinet, target);
}
bool FaultyOs::CreateDirectory(const std::string& path) {
    return !Fails(OsOp::CreateDirectory) && inner_.CreateDirectory(path);
}
bool FaultyOs::RemoveDirectory(const std::string& path) {
    return !Fails(OsOp::RemoveDirectory) && inner_.RemoveDirectory(path);
}
Os::HandlePtr FaultyOs::FindFirst(const std::string& pattern, FindData& out) {
    return Fails(OsOp::FindFirst) ? nullptr : inner_.FindFirst(pattern, out);
}
bool FaultyOs::FileInfo(const std::string& path, FindData& out) {
    return !Fails(OsOp::FileInfo) && inner_.FileInfo(path, out);
}
bool FaultyOs::FindNext(Handle& search, FindData& out) {
    return !Fails(OsOp::FindNext) && inner_.FindNext(search, out);
}
Os::HandlePtr FaultyOs::RegOpenKey(RegRoot root, const std::string& subkey, std::uint32_t access) {
    return Fails(OsOp::RegOpenKey) ? nullptr : inner_.RegOpenKey(root, subkey, access);
}
bool FaultyOs::RegQueryValue(Handle& key, const std::string& valueName, void* buffer, std::size_t& size) {
    return !Fails(OsOp::RegQueryValue) && inner_.RegQueryValue(key, valueName, buffer, size);
}
Os::HandlePtr FaultyOs::RegCreateKey(RegRoot root, const std::string& subkey) {
    return Fails(OsOp::RegCreateKey) ? nullptr : inner_.RegCreateKey(root, subkey);
}
bool FaultyOs::RegSetValue(Handle& key, const std::string& valueName, std::uint32_t type, const void* data,
                           std::size_t size) {
    return !Fails(OsOp::RegSetValue) && inner_.RegSetValue(key, valueName, type, data, size);
}
bool FaultyOs::RegDeleteValue(Handle& key, const std::string& valueName) {
    return !Fails(OsOp::RegDeleteValue) && inner_.RegDeleteValue(key, valueName);
}
bool FaultyOs::RegKeyIsEmpty(Handle& key) { return !Fails(OsOp::RegKeyIsEmpty) && inner_.RegKeyIsEmpty(key); }
bool FaultyOs::RegDeleteKey(RegRoot root, const std::string& subkey) {
    return !Fails(OsOp::RegDeleteKey) && inner_.RegDeleteKey(root, subkey);
}
long FaultyOs::CoInitialize() { return Fails(OsOp::CoInitialize) ? kEFail : inner_.CoInitialize(); }
Os::HandlePtr FaultyOs::CreateShellLink() {
    return Fails(OsOp::CreateShellLink) ? nullptr : inner_.CreateShellLink();
}
bool FaultyOs::SaveShellLink(Handle& link, const ShellLinkData& data, const std::string& linkPath) {
    return !Fails(OsOp::SaveShellLink) && inner_.SaveShellLink(link, data, linkPath);
}
Os::HandlePtr FaultyOs::CreateProcess(const ProcessStart& start) {
    return Fails(OsOp::CreateProcess) ? nullptr : inner_.CreateProcess(start);
}
// A state that cannot be read ends the wait, as the real call does.
bool FaultyOs::ProcessEnded(Handle& process) { return Fails(OsOp::ProcessEnded) || inner_.ProcessEnded(process); }
Os::ThreadPtr FaultyOs::StartThread(std::function<void()> body) {
    return Fails(OsOp::StartThread) ? nullptr : inner_.StartThread(std::move(body));
}
bool FaultyOs::PostNotify(WindowHandle window, unsigned code) {
    return !Fails(OsOp::PostNotify) && inner_.PostNotify(window, code);
}
bool FaultyOs::WindowExists(WindowHandle window) {
    return !Fails(OsOp::WindowExists) && inner_.WindowExists(window);
}
int FaultyOs::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    return Fails(OsOp::MessageBox) ? 0 : inner_.MessageBox(text, caption, flags);
}
std::string FaultyOs::WindowsDirectory() { return Fails(OsOp::WindowsDirectory) ? "" : inner_.WindowsDirectory(); }
std::string FaultyOs::SystemDirectory() { return Fails(OsOp::SystemDirectory) ? "" : inner_.SystemDirectory(); }
OsVersion FaultyOs::Version() { return Fails(OsOp::Version) ? OsVersion{} : inner_.Version(); }
std::string FaultyOs::ModulePath() { return Fails(OsOp::ModulePath) ? "" : inner_.ModulePath(); }
std::string FaultyOs::LoadString(unsigned id) { return Fails(OsOp::LoadString) ? "" : inner_.LoadString(id); }

bool FaultyOs::CopyFile(const std::string& from, const std::string& to) {
    return !Fails(OsOp::CopyFile) && inner_.CopyFile(from, to);
}
Os::HandlePtr FaultyOs::HoldFile(const std::string& path) {
    return Fails(OsOp::HoldFile) ? nullptr : inner_.HoldFile(path);
}
// Failed, the answer is as for a path that could not be looked at: "".
std::string FaultyOs::LongPathName(const std::string& path) {
    return Fails(OsOp::LongPathName) ? "" : inner_.LongPathName(path);
}

SignatureState FaultyOs::OwnSignature() {
    return Fails(OsOp::OwnSignature) ? SignatureState::Unavailable : inner_.OwnSignature();
}
bool FaultyOs::CreatePrivateDirectory(const std::string& path) {
    return !Fails(OsOp::CreatePrivateDirectory) && inner_.CreatePrivateDirectory(path);
}
bool FaultyOs::RegEnumKey(Handle& key, std::uint32_t index, std::string& name) {
    return !Fails(OsOp::RegEnumKey) && inner_.RegEnumKey(key, index, name);
}
std::uint32_t FaultyOs::ProcessId() { return Fails(OsOp::ProcessId) ? 0 : inner_.ProcessId(); }
Os::HandlePtr FaultyOs::OpenProcess(std::uint32_t id) {
    return Fails(OsOp::OpenProcess) ? nullptr : inner_.OpenProcess(id);
}
// A wait that failed is one that did not see the end.
bool FaultyOs::WaitForProcess(Handle& process, unsigned milliseconds) {
    return !Fails(OsOp::WaitForProcess) && inner_.WaitForProcess(process, milliseconds);
}
Os::HandlePtr FaultyOs::CreatePipe(HandlePtr& writeEnd, std::string& writeEndName) {
    return Fails(OsOp::CreatePipe) ? nullptr : inner_.CreatePipe(writeEnd, writeEndName);
}
Os::HandlePtr FaultyOs::OpenInheritedHandle(const std::string& name) {
    return Fails(OsOp::OpenInheritedHandle) ? nullptr : inner_.OpenInheritedHandle(name);
}
bool FaultyOs::Random(void* buffer, std::size_t size) { return !Fails(OsOp::Random) && inner_.Random(buffer, size); }

Os::HandlePtr FaultyOs::OpenLogFile(const std::string& path, LogOpen mode) {
    return Fails(OsOp::OpenLogFile) ? nullptr : inner_.OpenLogFile(path, mode);
}
bool FaultyOs::ProcessExitCode(Handle& process, std::uint32_t& code) {
    return !Fails(OsOp::ProcessExitCode) && inner_.ProcessExitCode(process, code);
}
std::string FaultyOs::TempPath() { return Fails(OsOp::TempPath) ? "" : inner_.TempPath(); }

}  // namespace cabsetup
