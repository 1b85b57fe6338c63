#include "AllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_largest{0};

} // namespace

namespace qvtest {

void ResetLargestAllocation() { g_largest.store(0); }
size_t LargestAllocation() { return g_largest.load(); }

} // namespace qvtest

// What a reader reserves from a number it was told shows here, whether or
// not the pages are ever touched (which resident memory would miss).
void* operator new(size_t size)
{
    size_t seen = g_largest.load();
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
