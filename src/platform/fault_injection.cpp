// The failure switches of fault_injection.hpp, and the module's own operator new and delete,
// which consult the allocation switch and otherwise behave like the standard ones.
#include "platform/fault_injection.hpp"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/environment.hpp"
#include "platform/interface_names.hpp"

namespace rc::fault {
namespace {

// A count from 1 written in plain decimal digits; anything else is no count.
std::optional<std::size_t> parse_ordinal(std::string_view text) noexcept {
    const std::optional<std::size_t> value = environment::parse_decimal(text);
    if (value == 0) return std::nullopt;
    return value;
}

struct AllocationSwitch {
    bool armed = false;
    bool sweep = false;
    std::size_t fixed_turn = 0;  // when not sweeping
};

const AllocationSwitch& allocation_switch() noexcept {
    static const AllocationSwitch settings = [] {
        AllocationSwitch s;
        const std::string_view text = environment::failing_allocations();
        if (text == names::kFailAllocSweep) {
            s.armed = s.sweep = true;
        } else if (auto k = parse_ordinal(text)) {
            s.armed = true;
            s.fixed_turn = *k;
        }
        return s;
    }();
    return settings;
}

std::atomic<int> g_calls_running{0};
std::atomic<std::size_t> g_allocations{0};   // made by the current call so far
std::atomic<std::size_t> g_sweep_turn{1};    // the allocation the next sweeping call fails
std::atomic<std::size_t> g_thread_starts{0};

}  // namespace

bool allocation_fails() noexcept {
    const AllocationSwitch& s = allocation_switch();
    if (!s.armed || g_calls_running.load(std::memory_order_relaxed) == 0) return false;
    const std::size_t n = g_allocations.fetch_add(1, std::memory_order_relaxed) + 1;
    return n == (s.sweep ? g_sweep_turn.load(std::memory_order_relaxed) : s.fixed_turn);
}

CallScope::CallScope() noexcept {
    if (!allocation_switch().armed) return;
    if (g_calls_running.fetch_add(1, std::memory_order_relaxed) == 0)
        g_allocations.store(0, std::memory_order_relaxed);
}

CallScope::~CallScope() {
    const AllocationSwitch& s = allocation_switch();
    if (!s.armed || g_calls_running.fetch_sub(1, std::memory_order_relaxed) != 1 || !s.sweep) return;
    const std::size_t turn = g_sweep_turn.load(std::memory_order_relaxed);
    const bool untouched = g_allocations.load(std::memory_order_relaxed) < turn;
    g_sweep_turn.store(untouched ? 1 : turn + 1, std::memory_order_relaxed);
}

void check_thread_start() {
    static const std::optional<std::size_t> failing = parse_ordinal(environment::failing_thread_start());
    if (!failing) return;
    if (g_thread_starts.fetch_add(1, std::memory_order_relaxed) + 1 == *failing)
        throw std::system_error(EAGAIN, std::generic_category(), "thread start refused by RC_FAIL_THREAD_START");
}

}  // namespace rc::fault

// The module's operator new and delete: the allocation switch in front of the process's own
// operator new and delete when the process has them (a shared C++ runtime, or a sanitizer's),
// so memory may cross between the module and that runtime in either direction; malloc and
// free otherwise (the runtime linked into the module). The version script keeps these
// definitions local to the Python module, so there they serve only the module's own code.
namespace {

struct GlobalAllocator {
    void* (*allocate)(std::size_t) = nullptr;
    void* (*allocate_array)(std::size_t) = nullptr;
    void (*release)(void*) = nullptr;
    void (*release_array)(void*) = nullptr;
};

const GlobalAllocator& global_allocator() noexcept {
    static const GlobalAllocator resolved = [] {
        GlobalAllocator g;
        g.allocate = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_DEFAULT, "_Znwm"));
        g.allocate_array = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_DEFAULT, "_Znam"));
        g.release = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "_ZdlPv"));
        g.release_array = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "_ZdaPv"));
        // In an executable these very definitions are the process's (it exports them to the
        // shared runtime): then malloc and free serve everyone.
        const bool ours = g.allocate == static_cast<void* (*)(std::size_t)>(&::operator new);
        if (ours || !g.allocate || !g.allocate_array || !g.release || !g.release_array) return GlobalAllocator{};
        return g;
    }();
    return resolved;
}

void* allocate_or_throw(std::size_t bytes, bool array) {
    if (rc::fault::allocation_fails()) throw std::bad_alloc();
    const GlobalAllocator& g = global_allocator();
    if (g.allocate != nullptr) return array ? g.allocate_array(bytes) : g.allocate(bytes);
    for (;;) {
        if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* allocate_or_null(std::size_t bytes, bool array) noexcept {
    try {
        return allocate_or_throw(bytes, array);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void release(void* p, bool array) noexcept {
    const GlobalAllocator& g = global_allocator();
    if (g.release == nullptr) std::free(p);
    else if (array) g.release_array(p);
    else g.release(p);
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate_or_throw(bytes, false); }
void* operator new[](std::size_t bytes) { return allocate_or_throw(bytes, true); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocate_or_null(bytes, false); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocate_or_null(bytes, true); }
void operator delete(void* p) noexcept { release(p, false); }
void operator delete[](void* p) noexcept { release(p, true); }
void operator delete(void* p, std::size_t) noexcept { release(p, false); }
void operator delete[](void* p, std::size_t) noexcept { release(p, true); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p, false); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p, true); }
