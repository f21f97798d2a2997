// Resolves the C library entries of libm_entry.hpp once per process, checked against the public
// functions on a set of probe arguments.
#include "libm_entry.hpp"

#include <math.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__GLIBC__)
#include <dlfcn.h>
#endif

#include "environment.hpp"

namespace rc {
namespace {

using Unary = double (*)(double);

const Unary public_exp = static_cast<Unary>(::exp);
const Unary public_log = static_cast<Unary>(::log);


// Arguments on which a candidate must give the public function's bits: the special values,
// the edges of overflow, underflow and the subnormal range, and a spread of ordinary ones.
template <typename Consumer>
void for_each_probe(Consumer&& consume) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const double fixed[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-300, 5e-324, 2.2250738585072014e-308,
                            -745.13, -745.14, -746.0, -708.4, -709.0, 709.78, 709.79, 710.0, 1e300,
                            -1e300, inf, -inf, nan, 1.0000000000000002, 0.9999999999999999};
    for (double x : fixed) consume(x);
    // A fixed sequence of bit patterns over the ordinary ranges of both functions.
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int k = 0; k < 512; ++k) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = static_cast<double>(state >> 11) * 0x1.0p-53;  // [0, 1)
        consume((unit - 0.75) * 1000.0);                                // exp's whole range
        consume(unit * 8.0);                                            // log near its use
        consume(std::ldexp(unit + 0.5, static_cast<int>(state & 2047) - 1074));
    }
}

bool agrees(Unary candidate, Unary reference) {
    bool same = true;
    for_each_probe([&](double x) {
        same = same && std::bit_cast<std::uint64_t>(candidate(x)) == std::bit_cast<std::uint64_t>(reference(x));
    });
    return same;
}

#if defined(__GLIBC__)
// The wrapper-free entry of glibc under its versioned name, or null.
Unary wrapper_free(const char* name) {
    void* libm = dlopen("libm.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (libm == nullptr) return nullptr;
    void* symbol = dlvsym(libm, name, "GLIBC_2.15");
    // libm stays loaded: this module links against it.
    dlclose(libm);
    return reinterpret_cast<Unary>(symbol);
}
#else
Unary wrapper_free(const char*) { return nullptr; }
#endif

// Below about -745.13 the exact exponential is less than half the smallest subnormal number and
// rounds to +0; -746 leaves a margin for the library's error.
constexpr double kExpUnderflowBound = -746.0;

double zero_bound(Unary exp) {
    const bool zero = std::bit_cast<std::uint64_t>(exp(kExpUnderflowBound)) == 0 &&
                      std::bit_cast<std::uint64_t>(exp(-std::numeric_limits<double>::max())) == 0;
    return zero ? kExpUnderflowBound : -std::numeric_limits<double>::infinity();
}

constexpr double kExpNegligibleBound = -38.0;

double negligible_bound(Unary exp) {
    return exp(kExpNegligibleBound) < 0x1p-54 ? kExpNegligibleBound : -std::numeric_limits<double>::infinity();
}

LibmEntry resolve() {
    LibmEntry entry{public_exp, public_log, 0.0, 0.0};
    if (!environment::public_libm()) {  // RC_LIBM=public keeps the public entries, for comparisons
        Unary fast_exp = wrapper_free("__exp_finite");
        Unary fast_log = wrapper_free("__log_finite");
        if (fast_exp != nullptr && fast_log != nullptr && agrees(fast_exp, public_exp) && agrees(fast_log, public_log))
            entry = {fast_exp, fast_log, 0.0, 0.0};
    }
    entry.exp_zero_below = zero_bound(entry.exp);
    entry.exp_negligible_below = negligible_bound(entry.exp);
    return entry;
}

}  // namespace

const LibmEntry& libm_entry() noexcept {
    static const LibmEntry entry = [] {
        // The probes overflow and underflow on purpose; the caller's errno stays as it was.
        const int saved_errno = errno;
        const LibmEntry resolved = resolve();
        errno = saved_errno;
        return resolved;
    }();
    return entry;
}

}  // namespace rc
