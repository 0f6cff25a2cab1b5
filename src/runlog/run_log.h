// The run log: one timed line for every event of a run of setup.exe or
// uninstall.exe, for the administrator who finds only an exit code.
//
// Whoever has something to say appends a line to a buffer under a lock and
// goes on; a flusher thread of the log's own converts the buffer to UTF-8
// and writes it at least once a second, and at once after a failure, so a
// run that is killed leaves everything up to its last second. The worker
// never waits for the disk on the log's account.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace cabsetup {

class RunLog {
public:
    // Starts the clock the lines are timed by. Lines are kept in memory
    // until Open names the file (the package's key decides its name).
    explicit RunLog(Os& os);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens the file, writes what was kept and starts the flusher. A new
    // file begins with the UTF-8 byte-order mark. False when the file
    // cannot be opened; the lines are still kept for another try.
    bool Open(const std::string& path, LogOpen mode);
    // No file can be had: the run goes on without a log, keeping nothing.
    void Abandon();
    const std::string& Path() const { return path_; }

    // A line in the system's ANSI code page, timed now.
    void Line(std::string_view text);
    // A failed step: what, on which path, and the system's error number and
    // text (none for 0), or our own reason; written at once.
    void Failure(std::string_view step, std::string_view path, std::uint32_t error, std::string_view why = {});
    // The text the status file was given ("" when it was not written).
    void NoteStatusFile(std::string_view text);
    // The last line: the exit code and the status file's text; then
    // everything is written and the file closed.
    void End(int exitCode);
    // Writes everything kept so far and closes the file, so another process
    // may append (the uninstaller's copy); Open again to go on.
    void Close();

    // Milliseconds since the log was made.
    std::uint64_t Elapsed() const;

private:
    void Flusher();
    // Takes the kept lines and writes them; the caller holds writeMutex_.
    void WriteKept();

    Os& os_;
    const std::chrono::steady_clock::time_point start_;
    std::string path_;
    std::mutex mutex_;  // guards kept_, statusText_ and the flusher's state
    std::condition_variable wake_;
    std::string kept_;
    std::string statusText_;
    bool statusWritten_ = false;
    bool collecting_ = true;  // false once abandoned: nothing is kept for nobody
    bool urgent_ = false, stopping_ = false;
    bool flushing_ = false;  // a flusher thread runs
    std::mutex writeMutex_;  // one writer of the file at a time
    Os::HandlePtr file_;
    Os::ThreadPtr flusher_;
};

// The log of this process, reached by the engine, the actions and the
// uninstaller as the installed-file log is; null when none is kept (most
// tests), and then every line goes nowhere.
void SetRunLog(RunLog* log);
RunLog* TheRunLog();

#ifdef CABSETUP_NO_RUN_LOG
// A build without the log (the benchmark's comparison): every line and the
// work of making it compile to nothing.
inline bool RunLogOn() { return false; }
#else
inline bool RunLogOn() { return TheRunLog() != nullptr; }
#endif

inline void LogLine(std::string_view text) {
    if (RunLogOn()) TheRunLog()->Line(text);
}
inline void LogFailure(std::string_view step, std::string_view path, std::uint32_t error, std::string_view why = {}) {
    if (RunLogOn()) TheRunLog()->Failure(step, path, error, why);
}

}  // namespace cabsetup
