// What the engine and the wizard exchange: WM_INSTALL_NOTIFY with its codes,
// and the InstallStatus record that carries the texts and the position.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/os.h"

namespace cabsetup {

constexpr unsigned NOTIFY_DONE = 1;
constexpr unsigned NOTIFY_FAILED = 2;
constexpr unsigned NOTIFY_PROGRESS = 3;
constexpr unsigned NOTIFY_ASK_MEDIA = 5;
constexpr std::size_t kStatusFieldSize = 256;

// Owned by the wizard, written by the worker. The fields are guarded so that
// the wizard never reads a text the worker is half-way through writing.
struct InstallStatus {
    // Zero until the wizard's window exists: an unattended run starts its
    // worker while the window is still being made, and the worker holds its
    // messages until then.
    std::atomic<WindowHandle> hwnd{0};

    std::string Text() const { return Read(text); }
    std::string Detail() const { return Read(detail); }
    std::int32_t Position() const {
        std::lock_guard lock(guard);
        return position;
    }
    // The texts must fit their 256-byte fields; callers cut or refuse first.
    void SetText(const std::string& t) { Write(text, t); }
    void SetDetail(const std::string& d) { Write(detail, d); }
    void SetPosition(std::int32_t p) {
        std::lock_guard lock(guard);
        position = p;
    }

    // Set by the engine when it posts NOTIFY_PROGRESS, cleared by the wizard
    // when it handles one: at most one progress message waits in the queue.
    std::atomic<bool> progressPending{false};

private:
    std::string Read(const char (&field)[kStatusFieldSize]) const {
        std::lock_guard lock(guard);
        return std::string(field, strnlen(field, kStatusFieldSize));
    }
    void Write(char (&field)[kStatusFieldSize], const std::string& value) {
        std::lock_guard lock(guard);
        std::size_t n = value.size() < kStatusFieldSize ? value.size() : kStatusFieldSize - 1;
        std::memcpy(field, value.data(), n);
        field[n] = 0;
    }

    mutable std::mutex guard;
    char text[kStatusFieldSize] = {};
    char detail[kStatusFieldSize] = {};
    std::int32_t position = 0;
};

}  // namespace cabsetup
