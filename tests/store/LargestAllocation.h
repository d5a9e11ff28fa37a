// The largest single allocation through operator new in this test binary since the
// last reset, to show that a length read from a file never becomes an allocation of
// that size. Linking LargestAllocation.cpp replaces the global operator new/delete.
// Thread-safety: atomic.
#pragma once

#include <cstddef>

namespace kova::test::store {

void resetLargestAllocation();
size_t largestAllocation();

}  // namespace kova::test::store
