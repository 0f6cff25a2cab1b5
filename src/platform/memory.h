// Memory whose size the package decides, or that is large: asked for so
// that a refusal fails the step that needed it (the engine reports it like
// any failed step) instead of ending the program. Small, fixed needs use
// plain new; a refusal there ends the program in a controlled way.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace cabsetup {

namespace memory_detail {
// False when this request is to be refused (the system's answer comes after).
bool Granted();
}  // namespace memory_detail

// n default-initialised elements, or null when the memory is refused.
template <class T>
std::unique_ptr<T[]> TryAllocate(std::size_t n) {
    if (!memory_detail::Granted()) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[n]);
}

// For tests, as a fault point of the system: the nth request from now
// (1-based) and the `count` - 1 after it are refused; nth 0 refuses none.
void RefuseAllocations(int nth, int count = 1);
// Requests since the last RefuseAllocations (or the program's start).
int AllocationRequests();

}  // namespace cabsetup
