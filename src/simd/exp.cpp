// Which instruction set's lane exp the process uses: the one of its SIMD level.
#include "simd/exp.hpp"

#include "simd_level.hpp"

namespace rc::simd {

const ExpArrays* exp_arrays() noexcept {
#if defined(__x86_64__)
    switch (simd_level()) {
        case SimdLevel::avx512: return &kExpAvx512;
        case SimdLevel::avx2: return &kExpAvx2;
        case SimdLevel::scalar: return &kExpSse2;
    }
#endif
    return nullptr;
}

}  // namespace rc::simd
