// What mksetup leaves on disk while it signs, and the promise that none of it
// outlives the run: removed by its owner on every return, and by SIGINT,
// SIGTERM or SIGHUP (on Windows Ctrl+C and Ctrl+Break) before the signal ends
// the program as it would have.
#pragma once

#include <filesystem>
#include <memory>
#ifndef _WIN32
#include <signal.h>
#endif
#include <string>
#include <vector>

namespace mksetup {

// One path removed when the object goes and when a signal ends mksetup.
// Registered before it exists, so no moment leaves it behind.
class RemovedOnExit {
public:
    enum class Kind { File, Folder };
    RemovedOnExit(std::filesystem::path path, Kind kind);
    ~RemovedOnExit();
    RemovedOnExit(const RemovedOnExit&) = delete;
    RemovedOnExit& operator=(const RemovedOnExit&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // It is someone else's now (renamed over the program it replaces).
    void Release();

private:
    std::filesystem::path path_;
    Kind kind_;
    int slot_;
};

// A fresh folder under the temporary folder that only this user can enter
// (0700 from its creation; on Windows a protected ACL that names only the
// user), for copies and secrets made while signing.
class PrivateFolder {
public:
    static std::unique_ptr<PrivateFolder> Create(std::string& error);
    const std::filesystem::path& Path() const { return folder_.Path(); }
#ifdef _WIN32
    // A new file in the folder with `bytes`, readable by this user only,
    // never one that was already there; removed with the folder. (Elsewhere
    // secrets go through pipes and never reach a disk.)
    bool AddFile(const std::string& name, const std::string& bytes, std::string& error);
#endif
    // A name inside the folder that is removed with it (for a file a tool makes).
    const std::filesystem::path& Reserve(const std::string& name);

private:
    explicit PrivateFolder(std::filesystem::path path);
    // Declared first: the folder is removed after everything in it.
    RemovedOnExit folder_;
    std::vector<std::unique_ptr<RemovedOnExit>> files_;
};

// SIGINT, SIGTERM and SIGHUP held back while alive: for the moments between
// making something and registering it (a folder mkdtemp names, a tool
// started). A child started meanwhile restores OldMask() before its program.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
#ifndef _WIN32
    const sigset_t& OldMask() const { return old_; }

private:
    sigset_t old_;
#endif
};

// The external tool running now: a signal that ends mksetup stops it first,
// so it cannot write again into what is being removed. 0: none.
void SetRunningTool(long processId);

}  // namespace mksetup
