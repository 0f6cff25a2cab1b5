#include "engine/background_writer.h"

#include <cstring>

#include "platform/memory.h"

namespace cabsetup {

namespace {

// Eight pieces of half a megabyte: enough for the thread to stay busy while
// the worker decodes, little enough for any machine setup.exe runs on.
constexpr std::size_t kBuffers = 8, kBufferSize = 512 * 1024;

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
    if (Ready()) Start();
}

BackgroundWriter::~BackgroundWriter() {
    Drain();
    if (thread_) {
        Push(Item{Item::Quit, nullptr, 0, 0, false});
        thread_->Join();
    }
}

void BackgroundWriter::Start() {
    // A system that refuses a second thread gets its files written on the
    // worker's own thread: the same writes in the same order, only without
    // the overlap with decoding, so the installation need not fail for it.
    thread_ = os_.StartThread([this] { Run(); });
}

void BackgroundWriter::Run() {
    for (;;) {
        Item item;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty(); });
            item = std::move(queue_.front());
            queue_.pop_front();
            if (item.kind == Item::Quit) return;
        }
        // Handle wakes whoever waits for what it frees: a buffer, a finished file.
        Handle(item);
    }
}

void BackgroundWriter::Push(Item item) {
    if (!thread_) {
        Handle(item);
        return;
    }
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(item));
    changed_.notify_all();
}

void BackgroundWriter::Handle(Item& item) {
    switch (item.kind) {
    case Item::Open: {
        current_ = std::move(item.file);
        File& f = *current_;
        if (Failed()) break;  // undone like the file that failed
        f.handle = os_.CreateHidden(f.fresh);
        std::uint32_t leftover = 0;
        if (!f.handle && os_.GetAttributes(f.fresh, leftover) && !(leftover & kAttrDirectory)) {
            // One left read-only by a run that crashed cannot be overwritten as it is.
            os_.SetAttributes(f.fresh, 0);
            f.handle = os_.CreateHidden(f.fresh);
        }
        f.ok = f.handle != nullptr;
        break;
    }
    case Item::Data: {
        File& f = *current_;
        if (f.ok) f.ok = os_.Write(*f.handle, buffers_[item.buffer].get(), item.size);
        f.written += item.size;
        std::lock_guard lock(mutex_);
        free_.push_back(item.buffer);
        changed_.notify_all();
        break;
    }
    case Item::Close: {
        File& f = *current_;
        bool placed = f.ok && item.whole && f.written == f.size && !Failed() &&
                      os_.PutInPlace(std::move(f.handle), f.fresh, f.destination);
        if (placed) {
            f.old->Discard();
        } else {
            f.handle.reset();
            os_.DeleteFile(f.fresh);
            f.old.reset();  // the old file comes back
        }
        std::lock_guard lock(mutex_);
        failed_ = failed_ || !placed;
        pending_.pop_front();
        current_.reset();
        changed_.notify_all();
        break;
    }
    case Item::Quit: break;
    }
}

void BackgroundWriter::Begin(const std::string& fresh, const std::string& destination, std::unique_ptr<SetAside> old,
                             std::uint64_t size) {
    auto file = std::make_unique<File>();
    file->fresh = fresh;
    file->destination = destination;
    file->old = std::move(old);
    file->size = size;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(destination);
    }
    Push(Item{Item::Open, std::move(file), 0, 0, false});
}

void BackgroundWriter::FlushBuffer() {
    if (!haveBuffer_) return;
    haveBuffer_ = false;
    Push(Item{Item::Data, nullptr, filling_, filled_, false});
}

bool BackgroundWriter::Write(const unsigned char* data, std::size_t size) {
    while (size > 0) {
        if (!haveBuffer_) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !free_.empty(); });
            filling_ = free_.back();
            free_.pop_back();
            filled_ = 0;
            haveBuffer_ = true;
        }
        std::size_t piece = std::min(size, kBufferSize - filled_);
        std::memcpy(buffers_[filling_].get() + filled_, data, piece);
        filled_ += piece;
        data += piece;
        size -= piece;
        if (filled_ == kBufferSize) FlushBuffer();
    }
    return !Failed();
}

void BackgroundWriter::End(bool whole) {
    FlushBuffer();
    Push(Item{Item::Close, nullptr, 0, 0, whole});
}

bool BackgroundWriter::Failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

bool BackgroundWriter::Pending(const std::string& destination) const {
    std::lock_guard lock(mutex_);
    for (const std::string& d : pending_)
        if (SamePath(d, destination)) return true;
    return false;
}

bool BackgroundWriter::Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty(); });
    return !failed_;
}

}  // namespace cabsetup
