// The number of workers the pool starts: the environment's request, or the CPUs this process
// may use.
#pragma once

#include <cstddef>

namespace rc::pool {

// The worker count the environment and the machine ask for (without creating the pool).
std::size_t configured_worker_count();

}  // namespace rc::pool
