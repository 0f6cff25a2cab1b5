#include "platform/memory.h"

#include <atomic>

namespace cabsetup {

namespace {
// One counter for the process: the worker and the writer thread both ask.
std::atomic<int> requests{0}, refuseFrom{0}, refuseCount{0};
}  // namespace

bool memory_detail::Granted() {
    int request = ++requests;
    int from = refuseFrom.load();
    return from <= 0 || request < from || request >= from + refuseCount.load();
}

void RefuseAllocations(int nth, int count) {
    refuseFrom = 0;
    requests = 0;
    refuseCount = count;
    refuseFrom = nth;
}

int AllocationRequests() { return requests.load(); }

}  // namespace cabsetup
