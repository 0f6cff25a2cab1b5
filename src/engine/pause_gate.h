// Where the worker is held while the wizard's cancel question is open. The
// worker passes the gate at every check and before every message to the
// wizard; a message goes out while the gate is held shut against a pause, so
// a pause either lands before it (and the message waits) or after it.
#pragma once

#include <condition_variable>
#include <mutex>

namespace cabsetup {

class PauseGate {
public:
    // The wizard: hold the worker at its next pass, or let it go. Returns
    // false when a pause could not hold the worker because a question of the
    // worker's is already on its way to the wizard.
    bool Pause(bool pause) {
        std::lock_guard lock(mutex_);
        paused_ = pause;
        if (!pause) opened_.notify_all();
        return !(pause && asking_);
    }

    // The worker: waits while paused.
    void Pass() {
        std::unique_lock lock(mutex_);
        WaitOpen(lock);
    }

    // The worker: waits while paused, then does `send` (a post, which never
    // blocks) before any pause can land.
    template <typename Send>
    auto PassThen(Send send) {
        std::unique_lock lock(mutex_);
        WaitOpen(lock);
        return send();
    }

    // The worker: waits while paused, then marks a question as asked. The
    // question itself is sent outside the gate (the wizard answers it on the
    // thread that pauses), and EndAsking clears the mark.
    void BeginAsking() {
        std::unique_lock lock(mutex_);
        WaitOpen(lock);
        asking_ = true;
    }
    void EndAsking() {
        std::lock_guard lock(mutex_);
        asking_ = false;
    }

    // How many threads wait at the gate now (tests hold the worker there).
    int Held() const {
        std::lock_guard lock(mutex_);
        return held_;
    }

private:
    void WaitOpen(std::unique_lock<std::mutex>& lock) {
        if (!paused_) return;
        ++held_;
        opened_.wait(lock, [this] { return !paused_; });
        --held_;
    }

    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool paused_ = false, asking_ = false;
    int held_ = 0;
};

}  // namespace cabsetup
