// A stand-in for the C library's log, loaded with LD_PRELOAD by tests/test_exp_lanes.py: it
// returns the library's value moved up by four units in the last place for arguments above 1, as
// a less accurate log might. The module must then notice that the log leaves the lane bracket
// and call log for every cell.
#include <dlfcn.h>

#include <cmath>

extern "C" [[gnu::visibility("default")]] double log(double x) {
    using Unary = double (*)(double);
    static const Unary real = reinterpret_cast<Unary>(dlsym(RTLD_NEXT, "log"));
    double value = real(x);
    if (x > 1.0 && std::isfinite(value))
        for (int k = 0; k < 4; ++k) value = std::nextafter(value, HUGE_VAL);
    return value;
}
