// The one translation unit that owns NumPy's C API table (see numpy_api.hpp).
#define RC_NUMPY_API_OWNER
#include "binding/numpy_api.hpp"

#include <atomic>

namespace rc {
namespace {
std::atomic<bool> g_numpy_ready{false};
// The import runs Python code, which may switch threads: a PyMutex lets the interpreter run
// other threads while this one waits, where a C++ mutex or call_once could deadlock on the GIL.
PyMutex g_numpy_import_mutex{};
}  // namespace

bool ensure_numpy() noexcept {
    if (g_numpy_ready.load(std::memory_order_acquire)) return true;
    PyMutex_Lock(&g_numpy_import_mutex);
    bool ready = g_numpy_ready.load(std::memory_order_relaxed) || PyArray_ImportNumPyAPI() == 0;
    if (ready) g_numpy_ready.store(true, std::memory_order_release);
    PyMutex_Unlock(&g_numpy_import_mutex);
    return ready;
}

}  // namespace rc
