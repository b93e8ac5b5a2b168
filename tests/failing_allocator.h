// A test hook on the process's C++ allocations: the n-th allocation after arming fails (as
// std::bad_alloc, or null for the nothrow forms). It replaces the global operator new of the
// test program, which the component's library, loaded into the same process, calls too.
#ifndef TELVARIO_TESTS_FAILING_ALLOCATOR_H
#define TELVARIO_TESTS_FAILING_ALLOCATOR_H

namespace telvario::testing {

// From now on, allocation number `n` (1 is the next one) fails; the others succeed.
void FailAllocation(long n);
// Stops failing; gives the number of allocations made since FailAllocation.
long StopFailing();

}  // namespace telvario::testing

#endif
