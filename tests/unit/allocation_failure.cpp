#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> failingSize{0};
std::atomic<int> failed{0};
}  // namespace

FailingAllocations::FailingAllocations(std::size_t size) {
    failed = 0;
    failingSize = size;
}
FailingAllocations::~FailingAllocations() {
    failingSize = 0;
}
int FailingAllocations::failures() const {
    return failed;
}

void* operator new(std::size_t size) {
    std::size_t armed = size;
    if (size != 0 && failingSize.compare_exchange_strong(armed, 0)) {  // fails once
        ++failed;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
