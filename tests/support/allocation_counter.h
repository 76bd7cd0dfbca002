#pragma once

// Counts the allocations of the calling thread: the source file that goes
// with this header replaces the global operator new (every form) and is
// compiled into the test programs that use it, never into a library.

namespace fyrel::test {

// Allocations through operator new on the calling thread since it started.
long allocationCount();

}  // namespace fyrel::test
