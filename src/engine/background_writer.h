// Creates, writes and puts in place the files the worker decodes, on
// threads of its own: decoding the next file overlaps the system calls of
// this one, which under many small files cost more than the decoding. One
// thread creates and writes each file; a second puts the written files in
// place (or undoes them), in the order begun, while the first goes on with
// the next: each waits on the system for half of a small file's calls.
//
// The two threads meet as seldom as they can: the worker gathers its files
// into a batch (many small files share one buffer) and hands a batch over at
// once; each side wakes the other only when that one is waiting, and only
// for what it waits for (the writer for work, the worker for a free buffer
// or for every file to be in place). Each wake-up is a round trip through
// the system, which under Wine cost more than writing a small file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
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

    bool Failed() const { return failed_.load(); }
    // Whether a file begun is not yet in place at `destination`.
    bool Pending(const std::string& destination);
    // Hands over what is gathered and waits until every file begun is in
    // place or undone; false when any failed.
    bool Drain();

    // Batches handed to the writer's thread, and how often one thread had
    // to wake another: for tests and measurements.
    std::uint64_t HandOvers() const { return handOvers_; }
    std::uint64_t WakeUps() const { return wakeUps_.load(); }

private:
    struct File {
        std::string fresh, destination;
        std::unique_ptr<SetAside> old;
        std::uint64_t size = 0, written = 0;
        Os::HandlePtr handle;
        bool ok = false;
        std::uint32_t error = 0;  // the system's, where a call of its own failed
    };
    struct Item {
        enum Kind { Open, Data, Close, Quit };
        Item() = default;
        explicit Item(Kind k) : kind(k) {}
        Kind kind = Data;
        std::unique_ptr<File> file;  // Open
        std::size_t buffer = 0, offset = 0, size = 0;  // Data
        bool release = false;  // Data: the last piece of its buffer, which is free once written
        bool whole = false;  // Close
    };

    void Start();
    void Run();
    // The second thread's: puts each written file in place, or undoes it.
    void RunPlacer();
    void Place(File& f, bool whole);
    // Gives the files closed so far to the second thread.
    void HandToPlacer(bool quit);
    // Gives the gathered batch to the writer's thread (or writes it here,
    // without one).
    void AddGathered();
    void HandOver();
    void Handle(Item& item);
    void Add(Item item) { batch_.push_back(std::move(item)); }
    // The current buffer's last piece frees it; the next Write takes another.
    void ReleaseBuffer();
    void TakeBuffer();

    Os& os_;
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;

    // Shared by the two threads, under the mutex.
    std::mutex mutex_;
    std::condition_variable work_, room_;  // the writer waits for work, the worker for room
    std::vector<Item> queue_;
    std::vector<std::size_t> free_;
    bool writerWaiting_ = false, workerWaiting_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> finished_{0};  // files closed, in the order begun
    std::atomic<std::uint64_t> wakeUps_{0};

    // The worker's alone.
    std::vector<Item> batch_;
    std::size_t batchFiles_ = 0;
    std::size_t filling_ = 0, filled_ = 0, pieceStart_ = 0;
    bool haveBuffer_ = false;
    std::uint64_t begun_ = 0, handOvers_ = 0;
    std::deque<std::pair<std::uint64_t, std::string>> pending_;  // files begun, by number, not yet known in place

    // Shared by the writer's two threads, under placeMutex_.
    struct Closed {
        std::unique_ptr<File> file;
        bool whole = false;
    };
    std::mutex placeMutex_;
    std::condition_variable placeWork_, placeRoom_;  // the placer waits for files, the writer for room
    std::vector<Closed> placeQueue_;
    bool placerWaiting_ = false, writerWaitingForRoom_ = false, placeQuit_ = false;

    // The writer's alone.
    std::unique_ptr<File> current_;
    std::vector<Closed> closed_;  // closed, not yet handed to the placer
    Os::ThreadPtr thread_;
    // The placer's thread; without it the writer puts each file in place itself.
    Os::ThreadPtr placer_;
};

}  // namespace cabsetup
