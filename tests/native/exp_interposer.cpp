// A stand-in for the C library's exp, loaded with LD_PRELOAD by tests/test_exp_lanes.py: it
// returns the library's value moved up by one unit in the last place for negative arguments, as
// another C library or an interposed exp might differ. The module must then notice that no lane
// variant agrees and keep calling exp.
#include <dlfcn.h>

#include <cmath>

extern "C" [[gnu::visibility("default")]] double exp(double x) {
    using Unary = double (*)(double);
    static const Unary real = reinterpret_cast<Unary>(dlsym(RTLD_NEXT, "exp"));
    const double value = real(x);
    return x < 0.0 && std::isnormal(value) ? std::nextafter(value, 1.0) : value;
}
