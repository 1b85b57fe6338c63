#pragma once
#include <cstddef>

// The largest single allocation made through operator new since the last
// reset. Only binaries that link AllocationWatch.cpp, which replaces the
// global operator new, may call these.
namespace qvtest {

void ResetLargestAllocation();
size_t LargestAllocation();

} // namespace qvtest
