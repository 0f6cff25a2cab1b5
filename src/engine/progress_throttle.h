// When the worker's progress goes to the wizard: at the rate a person can
// see. Every post makes the wizard repaint its bar and status line, which
// under many small files cost more than the files themselves; a person sees
// no difference between twenty updates a second and two thousand.
#pragma once

#include <cstdint>

namespace cabsetup {

class ProgressThrottle {
public:
    static constexpr std::uint32_t kIntervalMs = 50;

    // The record has a new position or text; true when it is to go now:
    // the first one, and any after a pause of the interval.
    bool Changed(std::uint32_t now) {
        unposted_ = true;
        return Due(now);
    }
    // An unposted change has waited the interval: it goes now, so that a
    // file that takes long shows its own name, not the one before it.
    bool Due(std::uint32_t now) const { return unposted_ && (!everPosted_ || now - lastPost_ >= kIntervalMs); }
    // A change the wizard has not been told of (the last position before
    // the final message always goes).
    bool Unposted() const { return unposted_; }
    void Posted(std::uint32_t now) {
        unposted_ = false;
        everPosted_ = true;
        lastPost_ = now;
    }

private:
    bool unposted_ = false, everPosted_ = false;
    std::uint32_t lastPost_ = 0;  // a wrapping clock: only differences count
};

}  // namespace cabsetup
