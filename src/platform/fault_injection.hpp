// Test switches that make allocations and thread starts fail on purpose, so that the failure
// paths a healthy machine never takes can be exercised. Both are off unless the environment
// asks for them (environment.hpp reads them once per process).
//
//   RC_FAIL_ALLOC=k       the k-th allocation (counted from 1) of every module call fails
//   RC_FAIL_ALLOC=sweep   the first call fails at its first allocation, the next call at its
//                         second, and so on; after a call that made fewer allocations than its
//                         turn (it ran untouched) the count starts over at the first
//   RC_FAIL_THREAD_START=k  the k-th worker thread the pool starts in this process fails to start
//
// "Allocation" means every allocation the module itself makes: result and working buffers
// (Buffer) and everything that goes through the module's operator new (vectors, strings, the
// pool). Allocations by the interpreter and NumPy are not counted. The count is process-wide,
// so the switch is meant for calls from one thread at a time.
#pragma once

namespace rc::fault {

// Whether the module's allocation counter should fail the allocation being made now. Cheap
// when the switch is off (a load of a flag set once).
bool allocation_fails() noexcept;

// Marks the extent of one module call, for the per-call allocation count.
class CallScope {
public:
    CallScope() noexcept;
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

// Throws the std::system_error a refused thread creation throws, when the switch says this
// thread start fails.
void check_thread_start();

}  // namespace rc::fault
