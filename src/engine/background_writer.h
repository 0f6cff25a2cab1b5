// Creates, writes and puts in place the files the worker decodes, on a
// thread of its own: decoding the next file overlaps the system calls of
// this one, which under many small files cost more than the decoding.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/set_aside.h"
#include "platform/os.h"

namespace cabsetup {

class BackgroundWriter {
public:
    explicit BackgroundWriter(Os& os);
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Whether it has memory to write with: without it nothing may be handed over.
    bool Ready() const { return !buffers_.empty(); }

    // Starts a file of `size` bytes: written hidden at `fresh`, then put in
    // place at `destination`, and the old file (when one was set aside)
    // deleted. When anything fails, the fresh file is deleted and the old
    // one comes back, and every file handed over after it is undone too.
    void Begin(const std::string& fresh, const std::string& destination, std::unique_ptr<SetAside> old,
               std::uint64_t size);
    // The file's next bytes; false once anything has failed.
    bool Write(const unsigned char* data, std::size_t size);
    // All of the file was handed over (`whole`) or its decoding failed.
    void End(bool whole);

    bool Failed() const;
    // Whether a file handed over is not yet in place at `destination`.
    bool Pending(const std::string& destination) const;
    // Waits until every file handed over is in place or undone; false when any failed.
    bool Drain();

private:
    struct File {
        std::string fresh, destination;
        std::unique_ptr<SetAside> old;
        std::uint64_t size = 0, written = 0;
        Os::HandlePtr handle;
        bool ok = false;
    };
    struct Item {
        enum Kind { Open, Data, Close, Quit } kind = Data;
        std::unique_ptr<File> file;  // Open
        std::size_t buffer = 0, size = 0;  // Data
        bool whole = false;  // Close
    };

    void Start();
    void Run();
    void Push(Item item);
    void Handle(Item& item);
    void FlushBuffer();

    Os& os_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
    std::vector<std::size_t> free_;
    std::size_t filling_ = 0, filled_ = 0;
    bool haveBuffer_ = false;
    bool failed_ = false;
    std::deque<std::string> pending_;  // destinations of the files not yet finished
    std::unique_ptr<File> current_;  // the file the thread is writing
    Os::ThreadPtr thread_;
};

}  // namespace cabsetup
