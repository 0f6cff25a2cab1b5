// Starts a thread, reporting a system that refuses one instead of throwing.
#pragma once

#include <thread>
#include <utility>

namespace cabsetup {

template <class Body>
bool StartThread(std::thread& thread, Body&& body) {
#if defined(__cpp_exceptions)
    try {
        thread = std::thread(std::forward<Body>(body));
    } catch (...) {
        return false;
    }
#else
    // setup.exe is built without exceptions: a refused thread ends it.
    thread = std::thread(std::forward<Body>(body));
#endif
    return true;
}

}  // namespace cabsetup
