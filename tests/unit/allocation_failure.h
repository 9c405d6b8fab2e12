// Makes the next allocation of one size fail with std::bad_alloc, the way a machine out of
// memory would. The global allocation functions of the unit test binary
// are replaced for that.
#pragma once

#include <cstddef>

class FailingAllocations {
  public:
    explicit FailingAllocations(std::size_t size);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
    int failures() const;
};
