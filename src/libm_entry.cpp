// Resolves the C library entries of libm_entry.hpp once per process, checked against the public
// functions on a set of probe arguments.
#include "libm_entry.hpp"

#include <dlfcn.h>
#if defined(__GLIBC__)
#include <gnu/lib-names.h>
#endif

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "environment.hpp"

namespace rc {

LibraryFunction library_function(const char* name) noexcept {
    // The global scope holds the C library's libm wherever the interpreter links it, after any
    // preloaded replacement, so this is the function a call through the dynamic linker reaches.
    void* symbol = dlsym(RTLD_DEFAULT, name);
    if (symbol == nullptr) {  // a process without libm in its global scope: load it for ourselves
#if defined(__GLIBC__)
        static void* const libm = dlopen(LIBM_SO, RTLD_NOW | RTLD_LOCAL);
#else
        static void* const libm = dlopen("libm.so", RTLD_NOW | RTLD_LOCAL);
#endif
        symbol = libm != nullptr ? dlsym(libm, name) : nullptr;
    }
    if (symbol == nullptr) {
        // No result could be the library's: stopping beats answering with other bits.
        std::fprintf(stderr, "_rust_core: the C library's %s was not found\n", name);
        std::abort();
    }
    return reinterpret_cast<LibraryFunction>(symbol);
}

namespace {

using Unary = LibraryFunction;

const Unary public_exp = library_function("exp");
const Unary public_log = library_function("log");


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

// Arguments on which a lane exp must give the library's bits: every table entry (k + j steps of
// ln2 / 128, k a multiple of 128, with an offset inside the step) at several scales, both special
// ranges with their overflowing and subnormal results, the edges of the regular range, and
// random ones.
template <typename Consumer>
void for_each_exp_probe(Consumer&& consume) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double fixed[] = {0.0,      -0.0,     inf,     -inf,    std::numeric_limits<double>::quiet_NaN(),
                            0x1p-54,  -0x1p-54, 0x1p-55, -0x1p-55, 0x1.fffffffffffffp-55,
                            5e-324,   -5e-324,  512.0,   -512.0,  0x1.fffffffffffffp8,
                            1024.0,   -1024.0,  0x1.fffffffffffffp9, -0x1.fffffffffffffp9,
                            709.78,   709.79,   -708.39, -708.4,  -744.44, -745.13, -745.14, -746.0,
                            1e300,    -1e300};
    for (double x : fixed) consume(x);
    constexpr double step = 0x1.62e42fefa39efp-8;  // ln2 / 128
    for (int k : {-1070, -1000, -866, -40, -1, 0, 1, 30, 866, 1023})
        for (int j = 0; j < 128; ++j) consume((k * 128 + j + 0.3) * step);
    std::uint64_t state = 0x2545F4914F6CDD1Du;
    auto unit = [&] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) * 0x1.0p-53;  // [0, 1)
    };
    for (int k = 0; k < 1024; ++k) {
        consume((unit() - 0.5) * 1500.0);  // the whole range and both special ranges
        consume(-unit() * 40.0);           // the kernels' usual arguments
        consume(-708.0 - unit() * 40.0);   // subnormal results
        consume(512.0 + unit() * 200.0);   // large positive results
    }
}

// The lane functions are probed with arrays of at most this many arguments.
constexpr std::size_t kChunk = 64;

// Whether check(in, count) holds for every chunk of the arguments that for_each_probe gives.
template <typename ForEachProbe, typename Check>
bool every_chunk(ForEachProbe&& for_each_probe, Check&& check) {
    double in[kChunk];
    std::size_t held = 0;
    bool holds = true;
    auto flush = [&] {
        holds = check(static_cast<const double*>(in), held) && holds;
        held = 0;
    };
    for_each_probe([&](double x) {
        in[held++] = x;
        if (held == kChunk) flush();
    });
    flush();
    return holds;
}

// Whether the lane exp `lanes` gives the library's bits on every probe.
bool exp_agrees(simd::ExpArray lanes) {
    const auto probes = [](auto&& consume) { for_each_exp_probe(consume); };
    return every_chunk(probes, [&](const double* in, std::size_t count) {
        double out[kChunk];
        lanes(in, out, count);
        bool same = true;
        for (std::size_t k = 0; k < count; ++k)
            same = same && std::bit_cast<std::uint64_t>(out[k]) == std::bit_cast<std::uint64_t>(public_exp(in[k]));
        return same;
    });
}

// The first lane variant that agrees with the library's exp, or library.
simd::ExpVariant agreeing_exp_variant() {
    const simd::ExpArrays* arrays = simd::exp_arrays();
    if (arrays == nullptr) return simd::ExpVariant::library;
    for (simd::ExpVariant variant : {simd::ExpVariant::fused, simd::ExpVariant::plain})
        if (exp_agrees(arrays->of(variant))) return variant;
    return simd::ExpVariant::library;
}

// Arguments on which the library's log must lie inside the bracket: both ends, the centre and
// an inner point of every subinterval of [1, 4), the neighbours of 1 and of 3, and random sums.
template <typename Consumer>
void for_each_log_probe(Consumer&& consume) {
    for (int j = 0; j < 256; ++j) {
        const double start = std::ldexp(128.0 + (j % 128), -7 + j / 128), width = std::ldexp(1.0, -7 + j / 128);
        for (double offset : {0.0, 0.3, 0.5, 1.0}) consume(std::nextafter(start + offset * width, start));
    }
    for (int k = 1; k <= 64; ++k) consume(1.0 + k * 0x1p-52);
    for (int k = 1; k <= 52; ++k) consume(1.0 + std::ldexp(1.0, -k));
    double below_three = 3.0;
    for (int k = 0; k < 16; ++k, below_three = std::nextafter(below_three, 0.0)) consume(below_three);
    consume(std::nextafter(4.0, 0.0));
    std::uint64_t state = 0x3C6EF372FE94F82Au;
    for (int k = 0; k < 4096; ++k) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = static_cast<double>(state >> 11) * 0x1.0p-53;  // [0, 1)
        consume(k % 4 == 0 ? 1.0 + unit * 0x1.09p-4 : 1.0 + 2.0 * unit);   // near 1, and anywhere in [1, 3)
    }
}

// Whether log lies inside the lane bracket on every probe.
bool log_within(simd::LogBracketArray bracket, Unary log) {
    const auto probes = [](auto&& consume) { for_each_log_probe(consume); };
    return every_chunk(probes, [&](const double* in, std::size_t count) {
        double lo[kChunk], hi[kChunk];
        bracket(in, lo, hi, count);
        bool inside = true;
        for (std::size_t k = 0; k < count; ++k) {
            const double value = log(in[k]);
            inside = inside && lo[k] <= value && value <= hi[k];
        }
        return inside;
    });
}

LibmEntry resolve() {
    LibmEntry entry{public_exp, public_log, 0.0, 0.0, simd::ExpVariant::library, false};
    if (!environment::public_libm()) {  // RC_LIBM=public keeps the public entries, for comparisons
        Unary fast_exp = wrapper_free("__exp_finite");
        Unary fast_log = wrapper_free("__log_finite");
        if (fast_exp != nullptr && fast_log != nullptr && agrees(fast_exp, public_exp) && agrees(fast_log, public_log))
            entry = {fast_exp, fast_log, 0.0, 0.0, simd::ExpVariant::library, false};
        entry.exp_variant = agreeing_exp_variant();
        const simd::LogBracketArray bracket = simd::log_bracket_array();
        entry.log_bracketed = bracket != nullptr && log_within(bracket, entry.log) && log_within(bracket, public_log);
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
