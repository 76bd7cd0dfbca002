#pragma once

#include <cstddef>

// Counts the live heap bytes of the whole process, whoever allocates them:
// operator new, malloc from C libraries (lib3ds, zlib) and the standard
// library alike. A program that links heap_meter.cpp gets the counting; in an
// AddressSanitizer build the sanitizer's allocation hooks do it, elsewhere the
// C allocator's entry points are replaced by counting ones that hand on to
// glibc's.
//
// Sizes are those the allocator reports as usable, so small allocations count
// a little more than asked for: what the tests compare is an upper bound.

namespace fyrel::test {

// Bytes allocated and not yet freed.
std::size_t heapInUse();

// The largest heapInUse() since the last resetHeapPeak().
std::size_t heapPeak();

// Starts a new peak from what is in use now.
void resetHeapPeak();

// The peak bytes above what was in use when the measurement started, for one
// call. Usage: HeapMeasure m; work(); m.peakAbove().
class HeapMeasure {
public:
    HeapMeasure();
    std::size_t peakAbove() const;

private:
    std::size_t start_;
};

}  // namespace fyrel::test
