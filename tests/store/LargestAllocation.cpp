#include "LargestAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> gLargest{0};
}

void* operator new(size_t size) {
    for (size_t seen = gLargest.load(); size > seen && !gLargest.compare_exchange_weak(seen, size);) {
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

namespace kova::test::store {

void resetLargestAllocation() { gLargest = 0; }
size_t largestAllocation() { return gLargest.load(); }

}  // namespace kova::test::store
