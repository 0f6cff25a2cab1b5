#include "runlog/run_log.h"

#include <atomic>

namespace cabsetup {

namespace {

std::atomic<RunLog*> current{nullptr};

// Often enough that a killed run loses less than its last second.
constexpr std::chrono::milliseconds kFlushEvery{500};

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

void SetRunLog(RunLog* log) { current = log; }
RunLog* TheRunLog() { return current; }

RunLog::RunLog(Os& os) : os_(os), start_(std::chrono::steady_clock::now()) {}

RunLog::~RunLog() { Close(); }

std::uint64_t RunLog::Elapsed() const {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count());
}

bool RunLog::Open(const std::string& path, LogOpen mode) {
    Close();  // one file, one flusher at a time
    std::lock_guard write(writeMutex_);
    file_ = os_.OpenLogFile(path, mode);
    if (!file_) return false;
    path_ = path;
    std::uint64_t size = 0;
    if (mode != LogOpen::Append || (os_.FileSize(*file_, size) && size == 0))
        os_.Write(*file_, kByteOrderMark, sizeof kByteOrderMark - 1);
    WriteKept();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    // Without a flusher the log is still written: at every failure and at its end.
    flusher_ = os_.StartThread([this] { Flusher(); });
    std::lock_guard lock(mutex_);
    flushing_ = flusher_ != nullptr;
    return true;
}

void RunLog::Abandon() {
    std::lock_guard lock(mutex_);
    collecting_ = false;
    kept_.clear();
}

void RunLog::Line(std::string_view text) {
    std::string stamp = std::to_string(Elapsed());
    std::string line;
    line.reserve(text.size() + 12);
    if (stamp.size() < 7) line.append(7 - stamp.size(), ' ');
    line += stamp;
    line += "  ";
    // One line per event, whatever a path or a text holds.
    for (char c : text) line += c == '\r' || c == '\n' ? ' ' : c;
    line += "\r\n";
    std::lock_guard lock(mutex_);
    if (collecting_) kept_ += line;
}

void RunLog::Failure(std::string_view step, std::string_view path, std::uint32_t error, std::string_view why) {
    std::string text = "FAILED ";
    text += step;
    if (!path.empty()) {
        text += ": ";
        text += path;
    }
    if (error != 0) {
        text += ": system error " + std::to_string(error);
        std::string reason = os_.ErrorText(error);
        if (!reason.empty()) text += " (" + reason + ")";
    }
    if (!why.empty()) {
        text += ": ";
        text += why;
    }
    Line(text);
    bool flusher;
    {
        std::lock_guard lock(mutex_);
        urgent_ = true;
        flusher = flushing_;
    }
    if (flusher) {
        wake_.notify_one();
    } else {
        std::lock_guard write(writeMutex_);
        WriteKept();
    }
}

void RunLog::NoteStatusFile(std::string_view text) {
    std::lock_guard lock(mutex_);
    statusText_ = std::string(text);
    statusWritten_ = !text.empty();
}

void RunLog::End(int exitCode) {
    std::string status;
    {
        std::lock_guard lock(mutex_);
        status = statusWritten_ ? "\"" + statusText_ + "\"" : std::string("none");
    }
    Line("end: exit code " + std::to_string(exitCode) + ", status file " + status);
    Close();
}

void RunLog::Close() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        flushing_ = false;
    }
    wake_.notify_one();
    if (flusher_) {
        flusher_->Join();
        flusher_.reset();
    }
    std::lock_guard write(writeMutex_);
    WriteKept();
    file_.reset();
}

void RunLog::WriteKept() {
    std::string lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(kept_);
    }
    if (lines.empty() || !file_) {
        // Nowhere to write yet: kept for Open.
        if (!file_ && !lines.empty()) {
            std::lock_guard lock(mutex_);
            if (collecting_) kept_.insert(0, lines);
        }
        return;
    }
    const std::string utf8 = os_.ToUtf8(lines);
    os_.Write(*file_, utf8.data(), utf8.size());
}

void RunLog::Flusher() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kFlushEvery, [this] { return urgent_ || stopping_; });
        urgent_ = false;
        lock.unlock();
        {
            std::lock_guard write(writeMutex_);
            WriteKept();
        }
        lock.lock();
    }
}

}  // namespace cabsetup
