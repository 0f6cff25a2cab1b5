#include "engine/background_writer.h"

#include <cstring>
#include <iterator>

#include "platform/memory.h"
#include "runlog/run_log.h"

namespace cabsetup {

namespace {

// Eight pieces of half a megabyte: enough for the thread to stay busy while
// the worker decodes, little enough for any machine setup.exe runs on.
constexpr std::size_t kBuffers = 8, kBufferSize = 512 * 1024;
// Files gathered before a batch goes, when no buffer filled up first: the
// writer then wakes once for them all, and the worker runs at most this many
// small files ahead of a writer that waits.
constexpr std::size_t kBatchFiles = 32;
// Files written but not yet in place that the writer may run ahead of the
// placer (each holds an open handle until it is in place).
constexpr std::size_t kPlaceBacklog = 64;

bool SamePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

BackgroundWriter::BackgroundWriter(Os& os) : os_(os) {
    // As many buffers as the system grants, up to eight: one is enough to
    // write with, only more slowly.
    buffers_.reserve(kBuffers);
    free_.reserve(kBuffers);
    for (std::size_t i = 0; i < kBuffers; ++i) {
        auto buffer = TryAllocate<unsigned char>(kBufferSize);
        if (!buffer) break;
        buffers_.push_back(std::move(buffer));
        free_.push_back(i);
    }
    batch_.reserve(4 * kBatchFiles);
    queue_.reserve(4 * kBatchFiles);
    if (Ready()) Start();
}

BackgroundWriter::~BackgroundWriter() {
    Drain();
    if (thread_) {
        Add(Item{Item::Quit});
        HandOver();
        thread_->Join();  // the writer's thread joins the placer's as it ends
    }
}

void BackgroundWriter::Start() {
    // A system that refuses a second thread gets its files written on the
    // worker's own thread: the same writes in the same order, only without
    // the overlap with decoding, so the installation need not fail for it.
    // One that refuses the third gets each file put in place by the writer.
    thread_ = os_.StartThread([this] { Run(); });
    // Set before the first batch goes: the writer's thread first looks at it
    // after taking a batch under the mutex the worker hands it over with.
    if (thread_) placer_ = os_.StartThread([this] { RunPlacer(); });
}

void BackgroundWriter::Run() {
    std::vector<Item> items;
    items.reserve(4 * kBatchFiles);
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            while (queue_.empty()) {
                writerWaiting_ = true;
                work_.wait(lock);
                writerWaiting_ = false;
            }
            items.swap(queue_);
        }
        bool quit = false;
        for (Item& item : items) {
            if ((quit = item.kind == Item::Quit)) break;
            Handle(item);
            // However many files arrived at once, they go on in batches.
            if (closed_.size() >= kBatchFiles) HandToPlacer(false);
        }
        items.clear();
        if (placer_) {
            HandToPlacer(quit);
            if (quit) placer_->Join();
        }
        if (quit) return;
        // Without a placer every file of these batches is in place or undone
        // now: a worker waiting for that goes on. (The placer says so itself.)
        if (placer_) continue;
        std::lock_guard lock(mutex_);
        if (workerWaiting_) {
            ++wakeUps_;
            room_.notify_one();
        }
    }
}

void BackgroundWriter::HandToPlacer(bool quit) {
    if (closed_.empty() && !quit) return;
    std::unique_lock lock(placeMutex_);
    // Never further ahead than the backlog: every file waiting holds a handle.
    while (!placeQueue_.empty() && placeQueue_.size() + closed_.size() > kPlaceBacklog) {
        writerWaitingForRoom_ = true;
        placeRoom_.wait(lock);
        writerWaitingForRoom_ = false;
    }
    for (Closed& c : closed_) placeQueue_.push_back(std::move(c));
    closed_.clear();
    placeQuit_ = quit;
    if (placerWaiting_) {
        ++wakeUps_;
        placeWork_.notify_one();
    }
}

void BackgroundWriter::RunPlacer() {
    std::vector<Closed> files;
    files.reserve(kPlaceBacklog + kBatchFiles);
    for (;;) {
        bool quit;
        {
            std::unique_lock lock(placeMutex_);
            while (placeQueue_.empty() && !placeQuit_) {
                placerWaiting_ = true;
                placeWork_.wait(lock);
                placerWaiting_ = false;
            }
            files.swap(placeQueue_);
            quit = placeQuit_;
            if (writerWaitingForRoom_) {
                ++wakeUps_;
                placeRoom_.notify_one();
            }
        }
        for (Closed& c : files) {
            Place(*c.file, c.whole);
            ++finished_;
        }
        files.clear();
        if (quit) return;
        std::lock_guard lock(mutex_);
        if (workerWaiting_) {
            ++wakeUps_;
            room_.notify_one();
        }
    }
}

void BackgroundWriter::HandOver() {
    ReleaseBuffer();
    if (batch_.empty()) return;
    ++handOvers_;
    batchFiles_ = 0;
    if (!thread_) {
        for (Item& item : batch_) Handle(item);
        batch_.clear();
        return;
    }
    std::lock_guard lock(mutex_);
    queue_.insert(queue_.end(), std::make_move_iterator(batch_.begin()), std::make_move_iterator(batch_.end()));
    batch_.clear();
    if (writerWaiting_) {
        ++wakeUps_;
        work_.notify_one();
    }
}

void BackgroundWriter::ReleaseBuffer() {
    if (!haveBuffer_ || filled_ == 0) return;  // an untouched buffer stays the worker's
    for (auto it = batch_.rbegin(); it != batch_.rend(); ++it) {
        if (it->kind == Item::Data && it->buffer == filling_) {
            it->release = true;
            break;
        }
    }
    haveBuffer_ = false;
}

void BackgroundWriter::TakeBuffer() {
    // Every buffer in use has been handed over (a buffer is released only
    // as its batch goes), so one comes back.
    std::unique_lock lock(mutex_);
    while (free_.empty()) {
        workerWaiting_ = true;
        room_.wait(lock);
        workerWaiting_ = false;
    }
    filling_ = free_.back();
    free_.pop_back();
    filled_ = pieceStart_ = 0;
    haveBuffer_ = true;
}

void BackgroundWriter::Handle(Item& item) {
    switch (item.kind) {
    case Item::Open: {
        current_ = std::move(item.file);
        File& f = *current_;
        if (Failed()) break;  // undone like the file that failed
        f.handle = os_.CreateHidden(f.fresh);
        // Taken at once: the look at a leftover below sets an error of its own.
        std::uint32_t error = f.handle ? 0 : os_.LastError();
        std::uint32_t leftover = 0;
        if (!f.handle && os_.GetAttributes(f.fresh, leftover) && !(leftover & kAttrDirectory)) {
            // One left read-only by a run that crashed cannot be overwritten as it is.
            os_.SetAttributes(f.fresh, 0);
            f.handle = os_.CreateHidden(f.fresh);
            if (!f.handle) error = os_.LastError();
        }
        f.ok = f.handle != nullptr;
        if (!f.ok) f.error = error;
        break;
    }
    case Item::Data: {
        File& f = *current_;
        if (f.ok && !(f.ok = os_.Write(*f.handle, buffers_[item.buffer].get() + item.offset, item.size))) f.error = os_.LastError();
        f.written += item.size;
        if (item.release) {
            std::lock_guard lock(mutex_);
            free_.push_back(item.buffer);
            if (workerWaiting_) {
                ++wakeUps_;
                room_.notify_one();
            }
        }
        break;
    }
    case Item::Close:
        if (placer_) {
            closed_.push_back({std::move(current_), item.whole});
        } else {
            Place(*current_, item.whole);
            current_.reset();
            ++finished_;
        }
        break;
    case Item::Quit: break;
    }
}

void BackgroundWriter::Place(File& f, bool whole) {
    bool ready = f.ok && whole && f.written == f.size && !Failed();
    bool placed = ready && os_.PutInPlace(std::move(f.handle), f.fresh, f.destination);
    if (ready && !placed) f.error = os_.LastError();
    if (placed) {
        f.old->Discard();
    } else {
        // A call of the system's failed here; damaged data the worker reports itself.
        if (f.error || ready) LogFailure(ready ? "putting the file in place" : "writing the file", f.destination, f.error);
        f.handle.reset();
        os_.DeleteFile(f.fresh);
        f.old.reset();  // the old file comes back
        failed_ = true;
    }
}

void BackgroundWriter::Begin(const std::string& fresh, const std::string& destination, std::unique_ptr<SetAside> old,
                             std::uint64_t size) {
    auto file = std::make_unique<File>();
    file->fresh = fresh;
    file->destination = destination;
    file->old = std::move(old);
    file->size = size;
    pending_.emplace_back(begun_++, destination);
    Item open{Item::Open};
    open.file = std::move(file);
    Add(std::move(open));
}

bool BackgroundWriter::Write(const unsigned char* data, std::size_t size) {
    while (size > 0) {
        if (!haveBuffer_) TakeBuffer();
        std::size_t piece = std::min(size, kBufferSize - filled_);
        std::memcpy(buffers_[filling_].get() + filled_, data, piece);
        filled_ += piece;
        data += piece;
        size -= piece;
        if (filled_ == kBufferSize) {
            // A full buffer goes at once, with whatever was gathered before it.
            AddGathered();
            HandOver();
        }
    }
    return !Failed();
}

// What was gathered into the filling buffer since its last piece went.
void BackgroundWriter::AddGathered() {
    Item piece{Item::Data};
    piece.buffer = filling_;
    piece.offset = pieceStart_;
    piece.size = filled_ - pieceStart_;
    Add(std::move(piece));
    pieceStart_ = filled_;
}

void BackgroundWriter::End(bool whole) {
    if (haveBuffer_ && filled_ > pieceStart_) AddGathered();
    Item close{Item::Close};
    close.whole = whole;
    Add(std::move(close));
    if (++batchFiles_ >= kBatchFiles) HandOver();
}

bool BackgroundWriter::Pending(const std::string& destination) {
    const std::uint64_t finished = finished_.load();
    while (!pending_.empty() && pending_.front().first < finished) pending_.pop_front();
    for (const auto& p : pending_)
        if (SamePath(p.second, destination)) return true;
    return false;
}

bool BackgroundWriter::Drain() {
    HandOver();
    if (thread_) {
        std::unique_lock lock(mutex_);
        while (finished_.load() != begun_) {
            workerWaiting_ = true;
            room_.wait(lock);
            workerWaiting_ = false;
        }
    }
    pending_.clear();
    return !Failed();
}

}  // namespace cabsetup
