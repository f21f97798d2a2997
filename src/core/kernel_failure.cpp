// Throws the kernels' failures (the index failure kept out of line and cold).
#include "core/kernel_failure.hpp"

#include "platform/interface_names.hpp"

namespace rc {

// Out of line and cold so that the checks in hot loops stay a compare and a branch.
[[gnu::cold, gnu::noinline]] void fail(const std::string& message) { throw KernelFailure(message); }

[[gnu::cold, gnu::noinline]] void fail_index_out_of_bounds() { throw KernelFailure(names::kIndexOutOfBounds); }

}  // namespace rc
